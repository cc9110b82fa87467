#include "tools/publish/manifest_checks.h"

#include "update/release/signature_threshold.h"
#include "update/release/version_manifest.h"

namespace {

// The values a checking launcher goes by: those of the signed bytes.
SignedReleaseValues signedValues(const std::string& manifestText) {
    return readSignedReleaseValues(splitAtSignatureBlock(manifestText).signedBytes);
}

std::string applicationVersion(const std::string& manifestText) {
    LatestVersionInfo info;
    parseLatestVersionInfo(splitAtSignatureBlock(manifestText).signedBytes, info);
    return info.ApplicationVersion;
}

std::string missingKeys(const std::vector<std::pair<const char*, const std::string*>>& keys) {
    std::string missing;
    for (const auto& [key, value] : keys) {
        if (value->empty()) {
            missing += (missing.empty() ? "" : " and ") + std::string(key);
        }
    }
    return missing;
}

} // namespace

ManifestCheck archiveHashesCheck(const std::string& manifestText) {
    const ManifestCheck passed{"archive hashes", true, ""};
    if (splitAtSignatureBlock(manifestText).signatures.empty()) {
        return passed;
    }
    const SignedReleaseValues values = signedValues(manifestText);
    const std::string content =
        missingKeys({{"ApplicationSha256", &values.ApplicationSha256},
                     {"ApplicationIndexSha256", &values.ApplicationIndexSha256}});
    if (!content.empty()) {
        return {passed.name, false,
                "signed without " + content +
                    " (--application-archive): a launcher with releaseSigningPublicKey refuses "
                    "every content archive, so no player can install or update the game"};
    }
    if (values.LauncherInstallerSha256.empty()) {
        return {passed.name, false,
                "signed without LauncherInstallerSha256 (--launcher-archive): a launcher with "
                "releaseSigningPublicKey refuses every installer of itself, so no player's "
                "launcher can update itself"};
    }
    return passed;
}

ManifestCheck expiryCheck(const std::string& manifestText, UtcSeconds now) {
    const auto expires = readManifestExpires(splitAtSignatureBlock(manifestText).signedBytes);
    const std::string problem = expiryProblem(expires, now);
    if (problem.empty()) {
        return {"expiry", true, ""};
    }
    return {"expiry", false,
            (problem.starts_with("it ") ? "the manifest" + problem.substr(2) : problem) +
                "; every launcher that checks signatures refuses the manifest and installs "
                "nothing"};
}

ManifestCheck liveSerialCheck(const std::string& manifestText, const std::string& liveText) {
    const ManifestCheck passed{"live serial", true, ""};
    const auto live = parseManifestSerial(signedValues(liveText).ManifestSerial);
    if (!live) {
        return passed; // the live manifest has no serial that any launcher went by
    }
    const std::string written = signedValues(manifestText).ManifestSerial;
    const auto serial = parseManifestSerial(written);
    const std::string liveSerial = std::to_string(*live);
    if (!serial) {
        return {passed.name, false,
                "ManifestSerial is missing or not a number while the live manifest has " +
                    liveSerial + ": every launcher that checks signatures refuses this manifest"};
    }
    if (*serial < *live) {
        return {passed.name, false,
                "ManifestSerial " + written + " is below the live manifest's " + liveSerial +
                    ": every launcher that took the live one refuses this manifest and stays on "
                    "the live release"};
    }
    if (*serial == *live) {
        return {
            passed.name, false,
            "ManifestSerial " + written +
                " is the live manifest's own: launchers keep "
                "accepting the live manifest too, so a stale copy of it can hold players on the "
                "live release; raise the serial"};
    }
    return passed;
}

ManifestCheck liveVersionCheck(const std::string& manifestText, const std::string& liveText) {
    const ManifestCheck passed{"live version", true, ""};
    const std::string version = applicationVersion(manifestText);
    if (version != applicationVersion(liveText)) {
        return passed;
    }
    const SignedReleaseValues values = signedValues(manifestText);
    const SignedReleaseValues live = signedValues(liveText);
    const std::string differing =
        values.ApplicationSha256 != live.ApplicationSha256             ? "ApplicationSha256"
        : values.ApplicationIndexSha256 != live.ApplicationIndexSha256 ? "ApplicationIndexSha256"
                                                                       : "";
    if (differing.empty()) {
        return passed;
    }
    return {passed.name, false,
            "ApplicationVersion " + version + " is the live manifest's, but " + differing +
                " differs: players who installed " + version +
                " never get this content (the launcher installs only when the version differs); "
                "give the release a new version"};
}

std::vector<ManifestCheck> shippedLauncherChecks(const std::string& manifestText,
                                                 const InstallerKeys& launcher, UtcSeconds now) {
    std::vector<ManifestCheck> checks = {{"installer version", true, ""},
                                         {"installer trust", true, ""}};
    LatestVersionInfo info; // as the launcher reads it: the whole text
    parseLatestVersionInfo(manifestText, info);
    if (launcherUpdatesItself(info.LauncherVersion, launcher.launcherVersion)) {
        checks[0] = {checks[0].name, false,
                     launcher.bundle + "/Contents/Resources/config.plist names launcherVersion \"" +
                         launcher.launcherVersion + "\" but the manifest's LauncherVersion is \"" +
                         info.LauncherVersion +
                         "\": players' launchers would see another version after every "
                         "self-update and update themselves on every run"};
    }
    if (launcher.keyList.empty()) {
        return checks; // that launcher checks no signature
    }
    const ManifestCheckContext context{launcher.keyList, launcher.threshold, 0, 0, now};
    for (const ManifestCheck& check : checkSignedManifest(manifestText, context)) {
        if (!check.passed) {
            checks[1] = {
                checks[1].name, false,
                "the launcher this release ships would refuse this manifest: " + check.detail +
                    "; players who take the self-update would be stuck on the installed "
                    "game"};
            break;
        }
    }
    return checks;
}

ShippedLauncherChecks checkShippedLauncher(const std::string& manifestText,
                                           const std::string& installerPath, UtcSeconds now) {
    std::string problem;
    const auto launcher = readInstallerKeys(installerPath, problem);
    if (!launcher) {
        return {{},
                "LauncherVersion and the signatures were not checked against the launcher in " +
                    installerPath + ": it " + problem};
    }
    return {shippedLauncherChecks(manifestText, *launcher, now), ""};
}

bool PublishingChecks::passed() const {
    for (const ManifestCheck& check : checks) {
        if (!check.passed) {
            return false;
        }
    }
    return true;
}

PublishingChecks checkBeforePublishing(const std::string& manifestText,
                                       const std::optional<std::string>& liveText, UtcSeconds now) {
    PublishingChecks result;
    result.checks = {archiveHashesCheck(manifestText), expiryCheck(manifestText, now)};
    if (!liveText) {
        result.notes.push_back(kNoLiveManifestNote);
        return result;
    }
    result.checks.push_back(liveSerialCheck(manifestText, *liveText));
    result.checks.push_back(liveVersionCheck(manifestText, *liveText));
    return result;
}
