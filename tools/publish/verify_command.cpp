// verify: checks a signed manifest and its archives the way a launcher with the key will.
#include "tools/publish/archive_checks.h"
#include "tools/publish/archive_index.h"
#include "tools/publish/commands.h"
#include "tools/publish/expiry_options.h"
#include "tools/publish/manifest_checks.h"
#include "tools/publish/manifest_fetch.h"
#include "tools/publish/manifest_file.h"
#include "tools/publish/online_verify.h"
#include "tools/publish/options.h"
#include "tools/publish/rollout_findings.h"
#include "tools/publish/verify_report.h"
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
    "                               [--installed-serial N] [--live-manifest URL] [--json]\n"
    "                               MANIFEST [ARCHIVE ...]\n"
    "       launcher-publish verify --online MANIFEST_URL [--public-key KEY ...]\n"
    "                               [--threshold N] [--json]\n"
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
    "A signed manifest without the archives' hashes fails, and, given --live-manifest, a\n"
    "ManifestSerial not above the live one's and an ApplicationVersion equal to the live one\n"
    "with another archive. \"signed by KEY\" says which of the keys have a signature on it.\n"
    "Given the launcher installer, the launcher it ships must take the manifest: its\n"
    "config.plist's launcherVersion must be LauncherVersion, and the manifest must pass the\n"
    "checks by its releaseSigningPublicKey and releaseSigningThreshold, when it names keys.\n"
    "\n"
    "--online MANIFEST_URL fetches the manifest players get and every archive it names as a\n"
    "launcher does: the content archive at ApplicationDownloadUrl and at each mirror through\n"
    "range requests (a whole download where the server refuses them), the launcher installer\n"
    "whole. Each must serve the bytes of its SHA-256 in the manifest (unsigned: a mirror those\n"
    "of ApplicationDownloadUrl), and answer range requests with 206 and an ETag or\n"
    "Last-Modified; the keys the installer's config.plist trusts and its threshold are\n"
    "reported, with yes or no for each --public-key, and the launcher it ships must take the\n"
    "manifest as above.\n"
    "\n"
    "One line per check, one saying when the manifest expires and one saying how far the\n"
    "release is rolled out; exit status 0 only when every check passes.\n"
    "\n"
    "options:\n"
    "  --public-key KEY       a trusted public key in its config.plist form (repeatable)\n"
    "  --threshold N          how many different keys must have signed (default 0: one)\n"
    "  --installed-serial N   the serial of the installed release (default 0)\n"
    "  --live-manifest URL    the manifest players fetch now, for the serial and version\n"
    "  --online MANIFEST_URL  verify the published release on its servers (see above)\n"
    "  --json                 print one JSON object instead: manifest, checks (name, result\n"
    "                         ok/failed/note, detail), failures and passed\n"
    "  -h, --help             show this help\n";

using Report = VerifyReport;

void checkHashValue(Report& report, const std::string& key, const std::string& value) {
    report(key, isSha256Hex(value),
           value.empty() ? "missing; the launcher refuses every archive it would check against it"
                         : "\"" + value + "\" is not 64 lower-case hex digits");
}

// Whether path is the content archive of the manifest; archives learns which is which.
bool checkArchive(Report& report, const std::string& path, const SignedReleaseValues& values,
                  ReleaseArchives& archives) {
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
        archives.launcherArchive = installer ? path : archives.launcherArchive;
        return false;
    }
    archives.contentArchive = archives.contentArchive.empty() ? path : archives.contentArchive;
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
            report.note(name, "left out, " + mirror.leftOut);
        } else if (contentArchive.empty()) {
            report(name, true, "");
        } else {
            report.ok(name, "must serve " + contentArchive + " byte for byte");
        }
    }
}

// When the manifest stops being taken, for the publisher to plan the next signing by.
void reportExpiry(Report& report, const std::string& signedBytes, UtcSeconds now) {
    const auto value = readManifestExpires(signedBytes);
    if (!value) {
        report.note("expires", "never (no ManifestExpires)");
        return;
    }
    const auto at = parseUtcTime(*value);
    if (!at) {
        return; // the expiry check's line says why
    }
    report.note("expires", *value + (*at > now ? ", in " + describeSpan(*at - now)
                                               : ", " + describeSpan(now - *at) + " ago"));
}

// The trusted keys, one --public-key each or several separated by commas.
std::vector<std::string> publicKeysOf(const ParsedArguments& parsed) {
    std::vector<std::string> keys;
    const auto given = parsed.lists.find("--public-key");
    for (const std::string& list :
         given == parsed.lists.end() ? std::vector<std::string>{} : given->second) {
        const std::vector<std::string> split = splitKeyList(list);
        keys.insert(keys.end(), split.begin(), split.end());
    }
    return keys;
}

// The mistakes manifest refuses to write, for a manifest written otherwise; against the live
// manifest when one is given.
bool reportPublishingChecks(Report& report, const ParsedArguments& parsed,
                            const std::string& manifest, const std::string& launcherArchive,
                            std::string& problem) {
    std::optional<std::string> live;
    if (parsed.has("--live-manifest")) {
        live = fetchLiveManifest(parsed.value("--live-manifest"), problem);
        if (!live) {
            return false;
        }
    }
    PublishingChecks checks = checkBeforePublishing(manifest, live, utcNow());
    for (const ManifestCheck& check : checks.checks) {
        if (check.name != "expiry") { // the launcher's own checks have said it
            report(check.name, check.passed, check.detail);
        }
    }
    if (!parsed.has("--online")) {
        for (const std::string& note : checks.notes) {
            report.note("live manifest", note);
        }
    }
    if (!launcherArchive.empty()) {
        const ShippedLauncherChecks shipped =
            checkShippedLauncher(manifest, launcherArchive, utcNow());
        for (const ManifestCheck& check : shipped.checks) {
            report(check.name, check.passed, check.detail);
        }
        if (!shipped.skipped.empty()) {
            report.note("installer checks", "skipped, " + shipped.skipped);
        }
    }
    return true;
}

// The manifest to verify: the file named, or the one served at --online's URL.
std::optional<std::string> manifestToVerify(const ParsedArguments& parsed, std::string& problem) {
    const auto text = parsed.has("--online")
                          ? fetchLiveManifest(parsed.value("--online"), problem)
                          : readManifestFile(parsed.positionals.front(), problem);
    if (!text) {
        return std::nullopt;
    }
    // The launcher reads the text up to its first NUL.
    return std::string(text->c_str());
}

int refuseVerify(const ParsedArguments& parsed, const std::string& problem, int status) {
    if (parsed.hasSwitch("--json")) {
        printVerifyJsonError(parsed.has("--online")       ? parsed.value("--online")
                             : parsed.positionals.empty() ? ""
                                                          : parsed.positionals.front(),
                             problem);
    }
    return reportError("verify", problem, status);
}

// The checks a launcher with the keys makes; without a key there is nothing to check them by.
void reportSignedChecks(Report& report, const std::string& manifest,
                        const ManifestCheckContext& context) {
    if (context.publicKeys.empty()) {
        report.note("signature", "not checked, no --public-key given");
        return;
    }
    for (const ManifestCheck& check : checkSignedManifest(manifest, context)) {
        report(check.name, check.passed, check.detail);
    }
}

int printVerify(const ParsedArguments& parsed, const Report& report) {
    if (parsed.hasSwitch("--json")) {
        printVerifyJson(report, parsed.has("--online") ? parsed.value("--online")
                                                       : parsed.positionals.front());
    } else {
        printVerifyText(report);
    }
    return report.failures == 0 ? kSuccess : kFailure;
}

// How far the release goes, as a checking launcher reads it from the signed bytes.
void reportRollout(Report& report, const std::string& signedBytes) {
    const Rollout rollout = readRollout(signedBytes);
    if (rollout.malformed) {
        report("rollout", false, rolloutProblem(rollout));
        return;
    }
    report.note("rollout", rolloutSummary(rollout));
}

// The hashes the manifest names, the archives given after it (their hashes and the bundles the
// launcher starts from them) and the mirrors that must serve the content archive. Returns the
// launcher installer among the archives; empty when none is.
std::string reportArchives(Report& report, const ParsedArguments& parsed,
                           const std::string& signedBytes) {
    const SignedReleaseValues values = readSignedReleaseValues(signedBytes);
    checkHashValue(report, "ApplicationSha256", values.ApplicationSha256);
    checkHashValue(report, "LauncherInstallerSha256", values.LauncherInstallerSha256);
    LatestVersionInfo info;
    parseLatestVersionInfo(signedBytes, info);
    ReleaseArchives archives{.executablePrefix = info.ApplicationExecutablePrefix};
    for (std::size_t i = 1; i < parsed.positionals.size(); ++i) {
        checkArchive(report, parsed.positionals[i], values, archives);
    }
    for (const ArchiveCheckLine& line : checkReleaseArchives(archives)) {
        line.skipped ? report.note(line.name, "skipped, " + line.problem)
                     : report(line.name, line.problem.empty(), line.problem);
    }
    reportMirrors(report, signedBytes, values, archives.contentArchive);
    return archives.launcherArchive;
}

int runVerify(const ParsedArguments& parsed) {
    std::string problem;
    const bool online = parsed.has("--online");
    if (online ? !parsed.positionals.empty()
               : parsed.positionals.empty() || !parsed.has("--public-key")) {
        return refuseVerify(parsed,
                            online ? "--online fetches the manifest and its archives itself; give "
                                     "no file (see --help)"
                                   : "give --public-key KEY and a manifest (see --help)",
                            kUsageError);
    }
    const auto installed = parsed.has("--installed-serial")
                               ? parseManifestSerial(parsed.value("--installed-serial"))
                               : std::optional<std::uint64_t>(0);
    if (!installed) {
        return refuseVerify(parsed, "--installed-serial must be a decimal number", kUsageError);
    }
    const auto threshold = parsed.has("--threshold")
                               ? parseManifestSerial(parsed.value("--threshold"))
                               : std::optional<std::uint64_t>(0);
    if (!threshold || *threshold > 1000) {
        return refuseVerify(parsed, "--threshold must be a decimal number up to 1000", kUsageError);
    }
    const auto manifest = manifestToVerify(parsed, problem);
    if (!manifest) {
        return refuseVerify(parsed, problem, online ? kFailure : kUsageError);
    }
    ManifestCheckContext context;
    const std::vector<std::string> keys = publicKeysOf(parsed);
    for (const std::string& key : keys) {
        context.publicKeys += (context.publicKeys.empty() ? "" : ",") + key;
    }
    context.threshold = static_cast<std::int32_t>(*threshold);
    context.installedSerial = *installed;
    context.now = utcNow();
    Report report;
    reportSignedChecks(report, *manifest, context);
    const std::string signedBytes = splitAtSignatureBlock(*manifest).signedBytes;
    reportExpiry(report, signedBytes, context.now);
    reportRollout(report, signedBytes);
    const std::string launcherArchive = reportArchives(report, parsed, signedBytes);
    if (!reportPublishingChecks(report, parsed, *manifest, launcherArchive, problem)) {
        return refuseVerify(parsed, problem, kFailure);
    }
    reportSigners(*manifest, keys, report);
    if (online) {
        verifyOnline(*manifest, keys, report);
    }
    return printVerify(parsed, report);
}

} // namespace

const Command verifyCommand{
    {.valued = {"--threshold", "--installed-serial", "--live-manifest", "--online"},
     .repeated = {"--public-key"},
     .switches = {"--json"}},
    kHelp,
    runVerify};
