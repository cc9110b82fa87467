#include "update/manifest_trust.h"

#include "launcher/run_log.h"
#include "update/release/release_signature.h"

bool manifestIsTrusted(const std::string& manifestText, const ReleaseTrust& trust) {
    if (trust.publicKey.empty()) {
        return true;
    }
    const std::uint64_t installedSerial =
        installedManifestSerial(trust.dataFolder + "/CurrentVersion.ini");
    for (const ManifestCheck& check :
         checkSignedManifest(manifestText, trust.publicKey, installedSerial)) {
        if (!check.passed) {
            writeToLog("Manifest refused: " + check.detail);
            return false;
        }
    }
    return true;
}
