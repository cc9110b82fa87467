#include "update/manifest_trust.h"

#include "launcher/launcher_config.h"
#include "launcher/run_log.h"
#include "platform/app_support_folder.h"

SignedReleaseValues acceptedRelease;

bool checksReleaseSignatures() {
    return !launcherConfig.releaseSigningPublicKey.empty();
}

bool manifestIsTrusted(const std::string& manifestText) {
    if (!checksReleaseSignatures()) {
        return true;
    }
    const std::uint64_t installedSerial =
        installedManifestSerial(appSupportFolder + "/CurrentVersion.ini");
    for (const ManifestCheck& check : checkSignedManifest(
             manifestText, launcherConfig.releaseSigningPublicKey, installedSerial)) {
        if (!check.passed) {
            writeToLog("Manifest refused: " + check.detail);
            return false;
        }
    }
    acceptedRelease = readSignedReleaseValues(splitAtLastLine(manifestText).signedBytes);
    return true;
}

std::optional<std::string> requiredArchiveSha256(const std::string& manifestValue) {
    if (!checksReleaseSignatures()) {
        return std::nullopt;
    }
    return manifestValue;
}
