#include "update/manifest_check.h"

#include "launcher/run_log.h"
#include "update/http/manifest_download.h"
#include "update/manifest_trust.h"

ManifestFailure lastManifestFailure = ManifestFailure::None;

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
    const int parsed = parseLatestVersionInfo(text, info);
    lastManifestFailure = parsed == 0 ? ManifestFailure::None : ManifestFailure::Parse;
    return parsed;
}
