// verify: checks a signed manifest and its archives the way a launcher with the key will.
#include "tools/publish/archive_index.h"
#include "tools/publish/commands.h"
#include "tools/publish/expiry_options.h"
#include "tools/publish/manifest_file.h"
#include "tools/publish/options.h"
#include "tools/publish/rollout_findings.h"
#include "update/release/manifest_expiry.h"
#include "update/release/mirror_urls.h"
#include "update/release/release_signature.h"
#include "update/release/sha256_stream.h"
#include "update/release/signature_threshold.h"
#include "update/release/version_manifest.h"

#include <iostream>

namespace {

const char* const kHelp =
    "usage: launcher-publish verify --public-key KEY [--public-key KEY ...] [--threshold N]\n"
    "                               [--installed-serial N] MANIFEST [ARCHIVE ...]\n"
    "\n"
    "Checks MANIFEST as a launcher whose config.plist holds releaseSigningPublicKey KEY\n"
    "(base64 of the 32-byte Ed25519 public key, as keygen prints it; several keys separated\n"
    "by commas, or one --public-key each) and releaseSigningThreshold N will check it: the\n"
    "manifest ends with ManifestSignature lines, each over every byte before the first of\n"
    "them, and at least N different keys (one when N is 0 or 1) have a signature that\n"
    "verifies; ManifestSerial is a number not lower than the installed one\n"
    "(--installed-serial, default 0); ManifestExpires, when there is one, is a UTC time that\n"
    "has not passed; and ApplicationSha256 and LauncherInstallerSha256 are SHA-256 values.\n"
    "Each ARCHIVE must match ApplicationSha256 or LauncherInstallerSha256; a content\n"
    "archive's ReleaseIndex.sha256 must match ApplicationIndexSha256. Each mirror of\n"
    "ApplicationDownloadMirrorUrls in the signed text gets a line; one that is not an\n"
    "http:// or https:// URL fails, and so does a RolloutPercent in the signed text that is\n"
    "not a whole number from 0 to 100.\n"
    "\n"
    "One line per check, one saying when the manifest expires and one saying how far the\n"
    "release is rolled out; exit status 0 only when every check passes.\n"
    "\n"
    "options:\n"
    "  --public-key KEY       a trusted public key in its config.plist form (repeatable)\n"
    "  --threshold N          how many different keys must have signed (default 0: one)\n"
    "  --installed-serial N   the serial of the installed release (default 0)\n"
    "  -h, --help             show this help\n";

// Prints one check's line and counts the failed ones.
struct Report {
    int failures = 0;
    void operator()(const std::string& name, bool passed, const std::string& detail) {
        std::cout << name << ": " << (passed ? "ok" : "FAILED, " + detail) << "\n";
        failures += passed ? 0 : 1;
    }
};

void checkHashValue(Report& report, const std::string& key, const std::string& value) {
    report(key, isSha256Hex(value),
           value.empty() ? "missing; the launcher refuses every archive it would check against it"
                         : "\"" + value + "\" is not 64 lower-case hex digits");
}

// Whether path is the content archive of the manifest.
bool checkArchive(Report& report, const std::string& path, const SignedReleaseValues& values) {
    const auto hash = sha256FileHex(path);
    if (!hash) {
        report("archive " + path, false, "cannot be read");
        return false;
    }
    if (*hash != values.ApplicationSha256) {
        const bool installer = *hash == values.LauncherInstallerSha256;
        report("archive " + path, installer,
               "its SHA-256 " + *hash +
                   " matches neither ApplicationSha256 nor LauncherInstallerSha256");
        return false;
    }
    report("archive " + path, true, "");
    std::string problem;
    const auto index = readArchiveIndex(path, problem);
    const std::string indexHash = index ? sha256Hex(*index) : "";
    report("index of " + path, index && indexHash == values.ApplicationIndexSha256,
           index ? "its SHA-256 " + indexHash + " differs from ApplicationIndexSha256" : problem);
    return true;
}

// The mirrors a checking launcher fetches the content archive from (those in the signed bytes),
// each of which must serve contentArchive (when given) byte for byte.
void reportMirrors(Report& report, const std::string& signedBytes,
                   const SignedReleaseValues& values, const std::string& contentArchive) {
    LatestVersionInfo info;
    parseLatestVersionInfo(signedBytes, info);
    for (const MirrorUrl& mirror :
         readMirrorUrls(values.ApplicationDownloadMirrorUrls, info.ApplicationDownloadUrl)) {
        const std::string name = "mirror " + mirror.url;
        if (!isHttpUrl(mirror.url)) {
            report(name, false, mirror.leftOut + "; the launcher leaves it out");
        } else if (!mirror.leftOut.empty()) {
            std::cout << name << ": left out, " << mirror.leftOut << "\n";
        } else if (contentArchive.empty()) {
            report(name, true, "");
        } else {
            std::cout << name << ": ok, must serve " << contentArchive << " byte for byte\n";
        }
    }
}

// When the manifest stops being taken, for the publisher to plan the next signing by.
void reportExpiry(const std::string& signedBytes, UtcSeconds now) {
    const auto value = readManifestExpires(signedBytes);
    if (!value) {
        std::cout << "expires: never (no ManifestExpires)\n";
        return;
    }
    const auto at = parseUtcTime(*value);
    if (!at) {
        return; // the expiry check's line says why
    }
    std::cout << "expires: " << *value
              << (*at > now ? ", in " + describeSpan(*at - now)
                            : ", " + describeSpan(now - *at) + " ago")
              << "\n";
}

// How far the release goes, as a checking launcher reads it from the signed bytes.
void reportRollout(Report& report, const std::string& signedBytes) {
    const Rollout rollout = readRollout(signedBytes);
    if (rollout.malformed) {
        report("rollout", false, rolloutProblem(rollout));
        return;
    }
    std::cout << "rollout: " << rolloutSummary(rollout) << "\n";
}

int runVerify(const ParsedArguments& parsed) {
    std::string problem;
    if (parsed.positionals.empty() || !parsed.has("--public-key")) {
        return reportError("verify", "give --public-key KEY and a manifest (see --help)",
                           kUsageError);
    }
    const auto installed = parsed.has("--installed-serial")
                               ? parseManifestSerial(parsed.value("--installed-serial"))
                               : std::optional<std::uint64_t>(0);
    if (!installed) {
        return reportError("verify", "--installed-serial must be a decimal number", kUsageError);
    }
    const auto threshold = parsed.has("--threshold")
                               ? parseManifestSerial(parsed.value("--threshold"))
                               : std::optional<std::uint64_t>(0);
    if (!threshold || *threshold > 1000) {
        return reportError("verify", "--threshold must be a decimal number up to 1000",
                           kUsageError);
    }
    const auto text = readManifestFile(parsed.positionals.front(), problem);
    if (!text) {
        return reportError("verify", problem, kUsageError);
    }
    // The launcher reads the text up to its first NUL.
    const std::string manifest(text->c_str());
    ManifestCheckContext context;
    for (const std::string& key : parsed.lists.at("--public-key")) {
        context.publicKeys += (context.publicKeys.empty() ? "" : ",") + key;
    }
    context.threshold = static_cast<std::int32_t>(*threshold);
    context.installedSerial = *installed;
    context.now = utcNow();
    Report report;
    for (const ManifestCheck& check : checkSignedManifest(manifest, context)) {
        report(check.name, check.passed, check.detail);
    }
    const std::string signedBytes = splitAtSignatureBlock(manifest).signedBytes;
    reportExpiry(signedBytes, context.now);
    reportRollout(report, signedBytes);
    const SignedReleaseValues values = readSignedReleaseValues(signedBytes);
    checkHashValue(report, "ApplicationSha256", values.ApplicationSha256);
    checkHashValue(report, "LauncherInstallerSha256", values.LauncherInstallerSha256);
    std::string contentArchive;
    for (std::size_t i = 1; i < parsed.positionals.size(); ++i) {
        if (checkArchive(report, parsed.positionals[i], values) && contentArchive.empty()) {
            contentArchive = parsed.positionals[i];
        }
    }
    reportMirrors(report, signedBytes, values, contentArchive);
    return report.failures == 0 ? kSuccess : kFailure;
}

} // namespace

const Command verifyCommand{
    {.valued = {"--threshold", "--installed-serial"}, .repeated = {"--public-key"}},
    kHelp,
    runVerify};
