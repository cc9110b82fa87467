#include "update/manifest_trust.h"

#include "launcher/run_log.h"
#include "update/release/highest_serial_record.h"
#include "update/release/manifest_expiry.h"
#include "update/release/release_signature.h"
#include "update/release/signature_threshold.h"

namespace {

// A record that cannot be read (it is never written half) is no reason to lock the player out
// of every update: the installed serial still stands, and the next accepted manifest writes the
// record anew.
std::uint64_t highestAcceptedSerial(const std::string& dataFolder) {
    std::string problem;
    const auto serial = readHighestSerial(dataFolder, problem);
    if (!serial) {
        writeToLog("The highest accepted serial is not known, going by the installed one: " +
                   problem);
    }
    return serial.value_or(0);
}

// Raised before any value of the manifest is used, so that no install, however it ends, can let
// an older manifest in afterwards.
bool recordAcceptedSerial(const std::string& dataFolder, const std::string& serialText,
                          std::uint64_t recorded) {
    const std::uint64_t serial = parseManifestSerial(serialText).value_or(0);
    std::string problem;
    if (serial <= recorded || writeHighestSerial(dataFolder, serial, problem)) {
        return true;
    }
    writeToLog("Manifest refused: the highest accepted serial cannot be recorded: " + problem);
    return false;
}

} // namespace

ManifestTrust checkManifestTrust(const std::string& manifestText, const ReleaseTrust& trust) {
    if (trust.publicKey.empty()) {
        return ManifestTrust::Trusted;
    }
    ManifestCheckContext context;
    context.publicKeys = trust.publicKey;
    context.threshold = trust.threshold;
    context.installedSerial = installedManifestSerial(trust.dataFolder + "/CurrentVersion.ini");
    context.highestAcceptedSerial = highestAcceptedSerial(trust.dataFolder);
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
    const SignedReleaseValues values = readSignedReleaseValues(signedBytes);
    if (!recordAcceptedSerial(trust.dataFolder, values.ManifestSerial,
                              context.highestAcceptedSerial)) {
        return ManifestTrust::Refused;
    }
    return ManifestTrust::Trusted;
}

bool manifestIsTrusted(const std::string& manifestText, const ReleaseTrust& trust) {
    return checkManifestTrust(manifestText, trust) == ManifestTrust::Trusted;
}
