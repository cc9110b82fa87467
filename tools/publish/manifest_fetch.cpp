#include "tools/publish/manifest_fetch.h"

#include "update/http/curl_session.h"
#include "update/http/manifest_download.h"

#include <curl/curl.h>

namespace {

struct Received {
    std::string& bytes;
    bool tooLarge = false;
};

// Stops where the launcher stops: a body past its limit ends the transfer unread.
std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& received = *static_cast<Received*>(user);
    const std::size_t n = size * count;
    if (n > manifestSizeLimit - received.bytes.size()) {
        received.tooLarge = true;
        return 0; // ends the transfer with a write error
    }
    received.bytes.append(data, n);
    return n;
}

} // namespace

bool isUrl(const std::string& source) {
    return source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0;
}

bool fetchManifestUrl(const std::string& url, FetchedManifest& manifest, std::string& problem) {
    const CurlSession session(TransferKind::Manifest, TransferSettings{});
    CURL* easy = session.handle();
    if (easy == nullptr) {
        problem = "cannot start libcurl";
        return false;
    }
    Received received{manifest.bytes};
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
    const CURLcode result = curl_easy_perform(easy);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &manifest.httpStatus);
    if (received.tooLarge) {
        problem = url + " is larger than " + std::to_string(manifestSizeLimit) +
                  " bytes; the launcher stops reading there and takes no manifest from it";
        return false;
    }
    if (result != CURLE_OK) {
        problem = "cannot fetch " + url + ": " + curl_easy_strerror(result);
        return false;
    }
    return true;
}

std::optional<std::string> fetchLiveManifest(const std::string& url, std::string& problem) {
    if (!isUrl(url)) {
        problem = "the live manifest \"" + url + "\" is not an http:// or https:// URL";
        return std::nullopt;
    }
    FetchedManifest fetched;
    if (!fetchManifestUrl(url, fetched, problem)) {
        return std::nullopt;
    }
    if (fetched.httpStatus >= 400) {
        problem = "the live manifest " + url + " answered with HTTP status " +
                  std::to_string(fetched.httpStatus);
        return std::nullopt;
    }
    return std::string(fetched.bytes.c_str());
}
