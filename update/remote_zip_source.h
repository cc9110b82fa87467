#pragma once
#include <cstdint>
#include <curl/curl.h>
#include <memory>
#include <string>
#include <vector>
#include <zip.h>

// A ZIP archive on a web server, read through HTTP range requests so that libzip can parse it
// and unpack single entries without the whole file. One easy handle, reused for every request
// (and so one connection), runs inside a multi handle that the reads pump. Reads made to parse
// the archive go through a cache of fetched blocks; entry data comes from runs that the install
// announces, each fetched as one streaming request.

// Delay before the first retry of a failed range request, doubled up to four times it; tests
// lower it in-process.
extern long rangeRetryBaseMilliseconds;

struct RemoteArchive {
    enum class State { Ready, Refused, Failed };

    explicit RemoteArchive(const std::string& url);
    ~RemoteArchive();
    RemoteArchive(const RemoteArchive&) = delete;
    RemoteArchive& operator=(const RemoteArchive&) = delete;

    // Fetches the archive's tail and learns its size. Refused when the server does not answer a
    // range request with 206 (why in refusal), Failed when the transfer failed (libcurl's text
    // in failure).
    State open();
    // A libzip source over the archive, owned by the caller (zip_open_from_source takes it).
    zip_source_t* makeSource();

    // The next read that the cache does not hold starts a run of about bytes, fetched in one
    // request; runs end when the install calls endRun.
    void beginRun(std::uint64_t bytes);
    void endRun();
    // Bytes the runs of this install will fetch in all, for the download percentage.
    void expectTotal(std::uint64_t bytes);

    std::uint64_t size() const { return archiveSize; }
    State state = State::Ready;
    std::string refusal;
    std::string failure;

    // What the source callback needs; not for callers.
    struct Internals;
    std::unique_ptr<Internals> inner;

  private:
    std::uint64_t archiveSize = 0;
};
