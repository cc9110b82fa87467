#include "update/manifest_check.h"

#include "launcher/run_log.h"
#include "update/http/manifest_download.h"
#include "update/release/signature_threshold.h"

CheckedManifest fetchCheckedManifest(const std::string& url, const ReleaseTrust& trust,
                                     const LatestVersionInfo& known,
                                     const TransferSettings& transfer) {
    CheckedManifest manifest;
    manifest.info = known;
    std::string text;
    const int status = performInMemoryCurl(text, url, transfer, &manifest.httpStatus);
    writeToLog("performed installer version in-memory curl and got status: " +
               std::to_string(status) + "...");
    if (status != 0) {
        writeToLog("Couldn't download " + url);
        manifest.status = status;
        return manifest;
    }
    // No value of a manifest is used before it has passed the signature checks.
    const ManifestTrust trusted = checkManifestTrust(text, trust);
    if (trusted != ManifestTrust::Trusted) {
        manifest.failure =
            trusted == ManifestTrust::Expired ? ManifestFailure::Expired : ManifestFailure::Refused;
        return manifest;
    }
    if (!trust.publicKey.empty()) {
        manifest.signatureChecked = true;
        manifest.signedValues = readSignedReleaseValues(splitAtSignatureBlock(text).signedBytes);
    }
    manifest.status = parseLatestVersionInfo(text, manifest.info);
    manifest.failure = manifest.status == 0 ? ManifestFailure::None : ManifestFailure::Parse;
    manifest.text = std::move(text);
    return manifest;
}

int fetchLatestVersionInfo(LatestVersionInfo& info, const std::string& url, std::string* rawText,
                           const ReleaseTrust& trust, const TransferSettings& transfer) {
    const CheckedManifest manifest = fetchCheckedManifest(url, trust, info, transfer);
    const bool accepted =
        manifest.failure == ManifestFailure::None || manifest.failure == ManifestFailure::Parse;
    if (accepted) {
        info = manifest.info;
        if (rawText != nullptr) {
            *rawText = manifest.text;
        }
    }
    return manifest.status;
}

std::optional<std::string> requiredArchiveSha256(const CheckedManifest& manifest,
                                                 const std::string& value) {
    if (!manifest.signatureChecked) {
        return std::nullopt;
    }
    return value;
}

void logManifestHttpStatus(const CheckedManifest& manifest) {
    if (manifest.httpStatus != 0) {
        writeToLog("The server answered the request for LatestVersion.ini with HTTP status " +
                   std::to_string(manifest.httpStatus));
    }
}

Rollout manifestRollout(const CheckedManifest& manifest) {
    return readRollout(manifest.signatureChecked ? splitAtSignatureBlock(manifest.text).signedBytes
                                                 : manifest.text);
}
