#include "update/version_manifest.h"

#include "launcher/run_log.h"
#include "update/http/curl_session.h"
#include "update/manifest_trust.h"

#include <cstring>
#include <ini.h>
#include <new>

LatestVersionInfo latestVersionInfo;
ManifestFailure lastManifestFailure = ManifestFailure::None;
std::atomic<std::int32_t> downloadProgressPercent{0};

namespace {

std::string textUpToFirstNul(const std::string& bytes) {
    return std::string(bytes.c_str());
}

} // namespace

std::size_t writeToMemoryCallback(char* data, std::size_t size, std::size_t count, void* buffer) {
    auto& received = static_cast<ReceiveBuffer*>(buffer)->bytes;
    const std::size_t n = size * count;
    if (n > manifestSizeLimit - received.size()) {
        // Every chunk is logged with all that came before it: a large body would fill the disk.
        writeToLog("manifest larger than " + std::to_string(manifestSizeLimit) +
                   " bytes, transfer aborted");
        return 0;
    }
    try {
        received.append(data, n);
    } catch (const std::bad_alloc&) {
        writeToLog("not enough memory (realloc returned NULL)\n");
        return 0;
    }
    writeToLog("got data: " + textUpToFirstNul(received));
    return n;
}

int transferProgressCallback(void*, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t,
                             curl_off_t) {
    if (downloadTotal < 1) {
        return 0;
    }
    const double percent =
        static_cast<double>(downloaded) / static_cast<double>(downloadTotal) * 100.0;
    downloadProgressPercent.store(static_cast<std::int32_t>(percent), std::memory_order_relaxed);
    return 0;
}

int latestVersionKeyHandler(void* user, const char* section, const char* name, const char* value) {
    if (section[0] != '\0') {
        return 1;
    }
    auto& info = *static_cast<LatestVersionInfo*>(user);
    std::string* fields[] = {&info.ApplicationVersion, &info.ApplicationDownloadUrl,
                             &info.ApplicationExecutablePrefix, &info.LauncherVersion,
                             &info.LauncherInstallerDownloadUrl};
    const char* keys[] = {"ApplicationVersion", "ApplicationDownloadUrl",
                          "ApplicationExecutablePrefix", "LauncherVersion",
                          "LauncherInstallerDownloadUrl"};
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        if (std::strcmp(name, keys[i]) == 0) {
            *fields[i] = value;
        }
    }
    return 1;
}

int performInMemoryCurl(std::string& text, const std::string& url) {
    ReceiveBuffer buffer;
    CurlSession session;
    CURL* curl = session.handle();
    if (curl == nullptr) {
        // Reporting success here would let the caller trust a manifest it never saw.
        writeToLog("curl_easy_init() failed");
        text.clear();
        return 1;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToMemoryCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &buffer);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, transferProgressCallback);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    applyTransferBasics(curl);
    applyManifestLimits(curl);

    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        writeToLog(std::string("curl_easy_perform() failed: ") + curl_easy_strerror(result));
    }
    text = textUpToFirstNul(buffer.bytes);
    return result == CURLE_OK ? 0 : 1;
}

int fetchLatestVersionInfo(LatestVersionInfo& info, const std::string& url, std::string* rawText) {
    std::string text;
    const int status = performInMemoryCurl(text, url);
    writeToLog("performed installer version in-memory curl and got status: " +
               std::to_string(status) + "...");
    if (status != 0) {
        writeToLog("Couldn't download " + url);
        lastManifestFailure = ManifestFailure::Transfer;
        return status;
    }
    // No value of a manifest is used before it has passed the signature checks.
    if (!manifestIsTrusted(text)) {
        lastManifestFailure = ManifestFailure::Refused;
        return 1;
    }
    if (rawText != nullptr) {
        *rawText = text;
    }
    const int parsed = ini_parse_string(text.c_str(), latestVersionKeyHandler, &info);
    lastManifestFailure = parsed == 0 ? ManifestFailure::None : ManifestFailure::Parse;
    return parsed;
}
