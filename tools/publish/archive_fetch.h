#pragma once
#include <cstdint>
#include <string>

// Fetching a published archive the way a launcher does, hashing every byte as it arrives and
// keeping none of them beyond the piece at hand.

// The content archive through the launcher's own range reader: its tail first (the size and the
// validator every later request carries in If-Range), then every byte in one run of range
// requests.
struct RangedFetch {
    bool rangesRefused = false; // the server did not answer a range request with a plain 206
    bool failed = false;        // the transfer failed, or the file changed while it was read
    std::string why;            // for either
    std::string validator;      // the strong ETag, else Last-Modified; empty when neither
    std::uint64_t size = 0;
    std::string sha256;
};
RangedFetch fetchThroughRanges(const std::string& url);

// The whole archive in one GET with the archives' transfer options (no redirect followed), as
// the launcher fetches its installer and falls back to for a server without ranges. With
// keepAt, the bytes also go into that new file.
struct WholeFetch {
    bool failed = false;
    std::string why;
    long httpStatus = 0;
    std::uint64_t size = 0;
    std::string sha256;
};
WholeFetch fetchWhole(const std::string& url, const std::string& keepAt = {});
