#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <curl/curl.h>
#include <string>

struct LatestVersionInfo {
    std::string ApplicationVersion;
    std::string ApplicationDownloadUrl;
    std::string ApplicationExecutablePrefix;
    std::string LauncherVersion;
    std::string LauncherInstallerDownloadUrl;
};

extern LatestVersionInfo latestVersionInfo;

// Why the last fetchLatestVersionInfo call failed; None after a success. Expired: a signed
// manifest past its ManifestExpires.
enum class ManifestFailure { None, Transfer, Parse, Refused, Expired };
extern ManifestFailure lastManifestFailure;

// Percentage of the current download, written by every transfer that knows its size.
extern std::atomic<std::int32_t> downloadProgressPercent;

// Fetches url and parses it into info: 0 when parsed cleanly, 1 when the transfer failed,
// otherwise the number of the first malformed line. rawText (optional) receives the text.
// A manifest that fails the signature checks returns 1 and leaves info and rawText alone.
int fetchLatestVersionInfo(LatestVersionInfo& info, const std::string& url, std::string* rawText);

// GET url into text (up to the body's first NUL): 0 when the transfer completed, else 1.
int performInMemoryCurl(std::string& text, const std::string& url);

// A manifest body beyond this size ends the transfer as failed.
constexpr std::size_t manifestSizeLimit = 64 * 1024;

struct ReceiveBuffer {
    std::string bytes;
};

std::size_t writeToMemoryCallback(char* data, std::size_t size, std::size_t count, void* buffer);
int transferProgressCallback(void* userData, curl_off_t downloadTotal, curl_off_t downloaded,
                             curl_off_t uploadTotal, curl_off_t uploaded);
int latestVersionKeyHandler(void* info, const char* section, const char* name, const char* value);
