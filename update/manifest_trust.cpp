#include "update/manifest_trust.h"

#include "launcher/launcher_config.h"
#include "launcher/run_log.h"
#include "platform/app_support_folder.h"
#include "update/highest_serial_record.h"
#include "update/manifest_expiry.h"
#include "update/signature_threshold.h"

SignedReleaseValues acceptedRelease;

bool checksReleaseSignatures() {
    return !launcherConfig.releaseSigningPublicKey.empty();
}

namespace {

// A record that cannot be read (it is never written half) is no reason to lock the player out
// of every update: the installed serial still stands, and the next accepted manifest writes the
// record anew.
std::uint64_t highestAcceptedSerial() {
    std::string problem;
    const auto serial = readHighestSerial(appSupportFolder, problem);
    if (!serial) {
        writeToLog("The highest accepted serial is not known, going by the installed one: " +
                   problem);
    }
    return serial.value_or(0);
}

// Raised before any value of the manifest is used, so that no install, however it ends, can let
// an older manifest in afterwards.
bool recordAcceptedSerial(const std::string& serialText, std::uint64_t recorded) {
    const std::uint64_t serial = parseManifestSerial(serialText).value_or(0);
    std::string problem;
    if (serial <= recorded || writeHighestSerial(appSupportFolder, serial, problem)) {
        return true;
    }
    writeToLog("Manifest refused: the highest accepted serial cannot be recorded: " + problem);
    return false;
}

} // namespace

ManifestTrust checkManifestTrust(const std::string& manifestText) {
    if (!checksReleaseSignatures()) {
        return ManifestTrust::Trusted;
    }
    ManifestCheckContext context;
    context.publicKeys = launcherConfig.releaseSigningPublicKey;
    context.threshold = launcherConfig.releaseSigningThreshold;
    context.installedSerial = installedManifestSerial(appSupportFolder + "/CurrentVersion.ini");
    context.highestAcceptedSerial = highestAcceptedSerial();
    context.now = utcNow();
    const std::string signedBytes = splitAtSignatureBlock(manifestText).signedBytes;
    for (const ManifestCheck& check : checkSignedManifest(manifestText, context)) {
        if (!check.passed) {
            writeToLog("Manifest refused: " + check.detail);
            const bool expired =
                check.name == "expiry" && hasExpired(readManifestExpires(signedBytes), context.now);
            return expired ? ManifestTrust::Expired : ManifestTrust::Refused;
        }
    }
    SignedReleaseValues values = readSignedReleaseValues(signedBytes);
    if (!recordAcceptedSerial(values.ManifestSerial, context.highestAcceptedSerial)) {
        return ManifestTrust::Refused;
    }
    acceptedRelease = std::move(values);
    return ManifestTrust::Trusted;
}

bool manifestIsTrusted(const std::string& manifestText) {
    return checkManifestTrust(manifestText) == ManifestTrust::Trusted;
}

std::optional<std::string> requiredArchiveSha256(const std::string& manifestValue) {
    if (!checksReleaseSignatures()) {
        return std::nullopt;
    }
    return manifestValue;
}
