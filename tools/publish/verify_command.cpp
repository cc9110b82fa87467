// verify: checks a signed manifest and its archives the way a launcher with the key will.
#include "tools/publish/archive_index.h"
#include "tools/publish/commands.h"
#include "tools/publish/manifest_file.h"
#include "tools/publish/options.h"
#include "update/release/release_signature.h"
#include "update/release/sha256_stream.h"

#include <iostream>

namespace {

const char* const kHelp =
    "usage: launcher-publish verify --public-key KEY [--installed-serial N] MANIFEST\n"
    "                               [ARCHIVE ...]\n"
    "\n"
    "Checks MANIFEST as a launcher whose config.plist holds releaseSigningPublicKey KEY\n"
    "(base64 of the 32-byte Ed25519 public key, as keygen prints it) will check it: the\n"
    "last line is a ManifestSignature line, the signature verifies over every byte before\n"
    "it, ManifestSerial is a number not lower than the installed one (--installed-serial,\n"
    "default 0), and ApplicationSha256 and LauncherInstallerSha256 are SHA-256 values.\n"
    "Each ARCHIVE must match ApplicationSha256 or LauncherInstallerSha256; a content\n"
    "archive's ReleaseIndex.sha256 must match ApplicationIndexSha256.\n"
    "\n"
    "One line per check; exit status 0 only when every check passes.\n"
    "\n"
    "options:\n"
    "  --public-key KEY       the public key in its config.plist form\n"
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

void checkArchive(Report& report, const std::string& path, const SignedReleaseValues& values) {
    const auto hash = sha256FileHex(path);
    if (!hash) {
        report("archive " + path, false, "cannot be read");
        return;
    }
    if (*hash != values.ApplicationSha256) {
        const bool installer = *hash == values.LauncherInstallerSha256;
        report("archive " + path, installer,
               "its SHA-256 " + *hash +
                   " matches neither ApplicationSha256 nor LauncherInstallerSha256");
        return;
    }
    report("archive " + path, true, "");
    std::string problem;
    const auto index = readArchiveIndex(path, problem);
    const std::string indexHash = index ? sha256Hex(*index) : "";
    report("index of " + path, index && indexHash == values.ApplicationIndexSha256,
           index ? "its SHA-256 " + indexHash + " differs from ApplicationIndexSha256" : problem);
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
    const auto text = readManifestFile(parsed.positionals.front(), problem);
    if (!text) {
        return reportError("verify", problem, kUsageError);
    }
    // The launcher reads the text up to its first NUL.
    const std::string manifest(text->c_str());
    Report report;
    for (const ManifestCheck& check :
         checkSignedManifest(manifest, parsed.value("--public-key"), *installed)) {
        report(check.name, check.passed, check.detail);
    }
    const SignedReleaseValues values =
        readSignedReleaseValues(splitAtLastLine(manifest).signedBytes);
    checkHashValue(report, "ApplicationSha256", values.ApplicationSha256);
    checkHashValue(report, "LauncherInstallerSha256", values.LauncherInstallerSha256);
    for (std::size_t i = 1; i < parsed.positionals.size(); ++i) {
        checkArchive(report, parsed.positionals[i], values);
    }
    return report.failures == 0 ? kSuccess : kFailure;
}

} // namespace

const Command verifyCommand{{.valued = {"--public-key", "--installed-serial"}}, kHelp, runVerify};
