#include "tools/publish/online_verify.h"

#include "tools/publish/archive_fetch.h"
#include "tools/publish/installer_keys.h"
#include "tools/publish/manifest_checks.h"
#include "update/release/base64_text.h"
#include "update/release/mirror_urls.h"
#include "update/release/release_signature.h"
#include "update/release/signature_threshold.h"
#include "update/release/version_manifest.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// A folder of our own under the temporary folder, removed with everything in it.
struct WorkFolder {
    std::string path;
    WorkFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/verify-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~WorkFolder() {
        std::error_code ignored;
        if (!path.empty()) {
            fs::remove_all(path, ignored);
        }
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
};

struct Fetched {
    bool ok = false;
    std::uint64_t size = 0;
    std::string sha256;
};

// A whole GET's answer as the launcher takes it: only a completed 200 is an archive.
Fetched wholeAnswer(VerifyReport& report, const std::string& name, const WholeFetch& whole,
                    const std::string& suffering) {
    if (whole.failed) {
        report(name, false, "cannot be fetched (" + whole.why + "): " + suffering);
        return {};
    }
    if (whole.httpStatus != 200) {
        report(name, false,
               "answers with HTTP status " + std::to_string(whole.httpStatus) + ": " + suffering);
        return {};
    }
    return {true, whole.size, whole.sha256};
}

// The archive at url through ranges, whole where the server refuses them; a line for its ranges.
Fetched fetchContent(VerifyReport& report, const std::string& url) {
    const std::string suffering = "players cannot install from it";
    const RangedFetch ranged = fetchThroughRanges(url);
    if (ranged.rangesRefused) {
        const Fetched whole = wholeAnswer(report, "archive " + url, fetchWhole(url), suffering);
        if (whole.ok) {
            report("ranges " + url, false,
                   ranged.why + ": players download the whole archive for every update instead "
                                "of only the entries that changed");
        }
        return whole;
    }
    if (ranged.failed) {
        report("archive " + url, false, "cannot be fetched (" + ranged.why + "): " + suffering);
        return {};
    }
    if (ranged.validator.empty()) {
        report("ranges " + url, false,
               "the range answers carry neither an ETag nor a Last-Modified date: an archive "
               "replaced while players install is not noticed, and their installs fail");
    } else {
        report.ok("ranges " + url, "answered 206, validator " + ranged.validator);
    }
    return {true, ranged.size, ranged.sha256};
}

// Checks one place of the content archive against expected (the hash it must have, named by
// what); returns the hash it serves.
std::string checkContentPlace(VerifyReport& report, const std::string& url,
                              const std::string& expected, const std::string& what) {
    const Fetched fetched = fetchContent(report, url);
    if (!fetched.ok) {
        return {};
    }
    const std::string served = std::to_string(fetched.size) + " bytes, SHA-256 " + fetched.sha256;
    if (expected.empty()) {
        report.ok("archive " + url, served);
    } else if (fetched.sha256 == expected) {
        report.ok("archive " + url, served + " as " + what + " names");
    } else {
        report("archive " + url, false,
               "serves " + served + ", not the " + what + " " + expected +
                   ": launchers that check signatures delete it and install nothing, others "
                   "install other content than the manifest names");
    }
    return fetched.sha256;
}

// The keys and threshold the live installer's launcher trusts, and whether it takes the manifest.
void reportInstallerKeys(VerifyReport& report, const std::string& manifestText,
                         const std::string& archive, const std::vector<std::string>& publicKeys) {
    std::string problem;
    const auto installer = readInstallerKeys(archive, problem);
    if (!installer) {
        report.note("installer keys", "cannot be told: the installer " + problem);
        return;
    }
    std::string list;
    for (const std::string& key : installer->keys) {
        list += (list.empty() ? "" : ", ") + key;
    }
    report.note("installer keys",
                installer->bundle + " trusts " +
                    (list.empty()
                         ? "no key: it checks no signature"
                         : list + " (threshold " + std::to_string(installer->threshold) + ")"));
    for (const ManifestCheck& check : shippedLauncherChecks(manifestText, *installer, utcNow())) {
        report(check.name, check.passed, check.detail);
    }
    for (const std::string& key : publicKeys) {
        const bool trusted =
            std::find(installer->keys.begin(), installer->keys.end(), key) != installer->keys.end();
        report.note("installer trusts " + key, trusted ? "yes" : "no");
    }
}

void checkInstaller(VerifyReport& report, const std::string& manifestText, const std::string& url,
                    const std::string& expected, const std::vector<std::string>& publicKeys) {
    const WorkFolder work;
    const std::string name = "installer " + url;
    if (work.path.empty()) {
        report(name, false, "cannot be fetched: no temporary folder can be made");
        return;
    }
    const std::string archive = work.path + "/installer.zip";
    const Fetched fetched = wholeAnswer(report, name, fetchWhole(url, archive),
                                        "players' launchers cannot update themselves");
    if (!fetched.ok) {
        return;
    }
    const std::string served = std::to_string(fetched.size) + " bytes, SHA-256 " + fetched.sha256;
    if (expected.empty() || fetched.sha256 == expected) {
        report.ok(name, served + (expected.empty() ? "" : " as LauncherInstallerSha256 names"));
    } else {
        report(name, false,
               "serves " + served + ", not the LauncherInstallerSha256 " + expected +
                   ": launchers that check signatures delete it and cannot update themselves");
    }
    reportInstallerKeys(report, manifestText, archive, publicKeys);
}

} // namespace

void verifyOnline(const std::string& manifestText, const std::vector<std::string>& publicKeys,
                  VerifyReport& report) {
    const std::string signedBytes = splitAtSignatureBlock(manifestText).signedBytes;
    LatestVersionInfo info;
    parseLatestVersionInfo(signedBytes, info);
    const SignedReleaseValues values = readSignedReleaseValues(signedBytes);
    const std::string primary = checkContentPlace(report, info.ApplicationDownloadUrl,
                                                  values.ApplicationSha256, "ApplicationSha256");
    // Unsigned, the mirrors must serve what ApplicationDownloadUrl serves.
    const bool named = !values.ApplicationSha256.empty();
    for (const MirrorUrl& mirror :
         readMirrorUrls(values.ApplicationDownloadMirrorUrls, info.ApplicationDownloadUrl)) {
        if (mirror.leftOut.empty()) {
            checkContentPlace(report, mirror.url, named ? values.ApplicationSha256 : primary,
                              named ? "ApplicationSha256" : "ApplicationDownloadUrl's");
        }
    }
    checkInstaller(report, manifestText, info.LauncherInstallerDownloadUrl,
                   values.LauncherInstallerSha256, publicKeys);
}

void reportSigners(const std::string& manifestText, const std::vector<std::string>& publicKeys,
                   VerifyReport& report) {
    const SignatureBlock block = splitAtSignatureBlock(manifestText);
    std::vector<std::string> signatures;
    for (const std::string& text : block.signatures) {
        signatures.push_back(decodeBase64(text).value_or(""));
    }
    for (const std::string& key : publicKeys) {
        const auto raw = decodePublicKey(key);
        const bool signedBy = raw && countSigningKeys({*raw}, signatures, block.signedBytes) == 1;
        report.note("signed by " + key,
                    !raw ? "no, that is not a public key" : (signedBy ? "yes" : "no"));
    }
}
