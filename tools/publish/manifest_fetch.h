#pragma once
#include <optional>
#include <string>

// A manifest fetched from its URL the way the launcher fetches it: redirects followed, the
// server's certificate not verified, and no more than manifestSizeLimit bytes of the body read.
struct FetchedManifest {
    std::string bytes;
    long httpStatus = 0;
};

// False with problem set when the transfer failed or the body passed the launcher's limit (the
// launcher takes no manifest from such an answer).
bool fetchManifestUrl(const std::string& url, FetchedManifest& manifest, std::string& problem);

bool isUrl(const std::string& source);

// The manifest players fetch now, cut at its first NUL as the launcher cuts it. None, with
// problem set, when it cannot be fetched or the server answers with an error status.
std::optional<std::string> fetchLiveManifest(const std::string& url, std::string& problem);
