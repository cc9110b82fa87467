// manifest: writes LatestVersion.ini so that the launcher reads exactly the values given.
#include "tools/publish/archive_checks.h"
#include "tools/publish/archive_index.h"
#include "tools/publish/commands.h"
#include "tools/publish/expiry_options.h"
#include "tools/publish/manifest_analysis.h"
#include "tools/publish/manifest_checks.h"
#include "tools/publish/manifest_fetch.h"
#include "tools/publish/manifest_file.h"
#include "tools/publish/manifest_signing.h"
#include "tools/publish/options.h"
#include "tools/publish/rollout_option.h"
#include "update/release/mirror_urls.h"
#include "update/release/release_signature.h"
#include "update/release/rollout.h"
#include "update/release/sha256_stream.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const kHelp =
    "usage: launcher-publish manifest [options]\n"
    "\n"
    "Writes the version manifest (LatestVersion.ini) that the launcher fetches, one\n"
    "Key=Value line per key, and checks that the launcher's parser reads back every value\n"
    "exactly as given.\n"
    "\n"
    "options:\n"
    "  --application-version V   version of the game content (ApplicationVersion)\n"
    "  --application-url URL     URL of the content ZIP archive (ApplicationDownloadUrl)\n"
    "  --executable-prefix P     text before appDisplayName in the game bundle's name\n"
    "                            (ApplicationExecutablePrefix; may be \"\")\n"
    "  --launcher-version V      version of the launcher (LauncherVersion)\n"
    "  --launcher-url URL        URL of the launcher installer's ZIP archive\n"
    "                            (LauncherInstallerDownloadUrl)\n"
    "  --mirror-url URL          another http:// or https:// URL serving the very same\n"
    "                            content archive, tried in order when the one before it\n"
    "                            fails (ApplicationDownloadMirrorUrls; repeatable; inside\n"
    "                            the signed text when signed)\n"
    "  --rollout N               RolloutPercent: only N % (a whole number from 0 to 100)\n"
    "                            of the players who have a game installed update to this\n"
    "                            release, always the same ones first; players with nothing\n"
    "                            installed install it whatever N is (default: all players)\n"
    "  --output FILE             where to write (default: LatestVersion.ini)\n"
    "  --live-manifest URL       the manifest players fetch now: the new one is refused when\n"
    "                            its ManifestSerial is not above the live one's, or its\n"
    "                            ApplicationVersion is the live one's with another archive\n"
    "\n"
    "for a launcher that checks signatures (releaseSigningPublicKey in config.plist):\n"
    "  --application-archive F   the content archive made by pack: writes its SHA-256\n"
    "                            (ApplicationSha256) and that of its ReleaseIndex.sha256\n"
    "                            (ApplicationIndexSha256)\n"
    "  --launcher-archive F      the launcher installer's archive: writes its SHA-256\n"
    "                            (LauncherInstallerSha256)\n"
    "  --app-name NAME           appDisplayName, for the check of the content archive\n"
    "                            when no --launcher-archive names it\n"
    "  --serial N                ManifestSerial: raise it with every manifest published;\n"
    "                            a launcher refuses a serial below the installed one\n"
    "  --sign-with KEY           sign with the private key made by keygen: appends the\n"
    "                            ManifestSignature line (needs --serial); give it once per\n"
    "                            key that is to sign, for one line each\n"
    "  --expires-in N{s,m,h,d}   ManifestExpires: the time N seconds, minutes, hours or days\n"
    "                            from now (such as 7d), after which a launcher that checks\n"
    "                            signatures refuses the manifest; re-sign it before then with\n"
    "                            launcher-publish sign\n"
    "  --expires-at TIME         ManifestExpires as a UTC time, YYYY-MM-DDTHH:MM:SSZ\n"
    "  -h, --help                show this help\n"
    "\n"
    "A value is refused when the launcher would read it otherwise: a line longer than\n"
    "199 bytes, blanks at either end, a line break, or a \" ;\" that starts a comment.\n"
    "Archives are refused when launchers could not use them: a launcher installer\n"
    "without <appDisplayName>.app (the name its config.plist gives) and its executable,\n"
    "a content archive without <prefix><appDisplayName>.app and its executable. Without\n"
    "--launcher-archive or --app-name the content archive's check is skipped.\n"
    "The manifest is refused, and nothing written, when it is signed without the archives'\n"
    "hashes (--application-archive, --launcher-archive), when its expiry has passed, and,\n"
    "given --live-manifest, for the serial and version above; one line says what players\n"
    "would suffer. Given --launcher-archive, it is refused when the launcher in it would not\n"
    "take it: LauncherVersion other than its config.plist's launcherVersion, or a manifest\n"
    "its releaseSigningPublicKey and releaseSigningThreshold refuse.\n";

// Option name for each manifest key, in the order of kManifestKeys.
const std::array<const char*, 5> kKeyOptions = {"--application-version", "--application-url",
                                                "--executable-prefix", "--launcher-version",
                                                "--launcher-url"};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

// Why the launcher would read key=value otherwise than written; empty when it reads it as is.
std::string valueProblem(std::size_t key, const std::string& value) {
    const std::string line = std::string(kManifestKeys[key]) + "=" + value;
    if (value.empty() && key != 2) {
        return "is empty";
    }
    if (value.find_first_of("\r\n") != std::string::npos) {
        return "holds a line break";
    }
    if (!value.empty() && (isBlank(value.front()) || isBlank(value.back()))) {
        return "starts or ends with a blank, which the launcher drops";
    }
    for (std::size_t i = 1; i < value.size(); ++i) {
        if (value[i] == ';' && isBlank(value[i - 1])) {
            return "holds a blank followed by \";\", where the launcher ends the value";
        }
    }
    if (line.size() > kLinePieceBytes) {
        return "makes the line " + std::to_string(line.size()) + " bytes long; the launcher " +
               "reads at most " + std::to_string(kLinePieceBytes) + " (at most " +
               std::to_string(kLinePieceBytes - std::string(kManifestKeys[key]).size() - 1) +
               " bytes for this value)";
    }
    return {};
}

std::string manifestText(const LatestVersionInfo& info) {
    std::string text;
    for (std::size_t key = 0; key < kManifestKeys.size(); ++key) {
        text += std::string(kManifestKeys[key]) + "=" + manifestField(info, key) + "\n";
    }
    if (!info.ApplicationDownloadMirrorUrls.empty()) {
        text += std::string(mirrorUrlsKey) + "=" + info.ApplicationDownloadMirrorUrls + "\n";
    }
    return text;
}

// Why a --mirror-url is refused; empty when the launcher would fetch from it.
std::string mirrorProblem(const std::string& url, const LatestVersionInfo& info) {
    if (std::any_of(url.begin(), url.end(), isBlank)) {
        return "--mirror-url \"" + url + "\" holds a blank or a line break, which the launcher " +
               "takes for the end of the URL";
    }
    if (!isHttpUrl(url)) {
        return "--mirror-url \"" + url + "\" is not an http:// or https:// URL; the launcher " +
               "fetches archives over HTTP and HTTPS only";
    }
    for (const MirrorUrl& mirror : readMirrorUrls(info.ApplicationDownloadMirrorUrls + " " + url,
                                                  info.ApplicationDownloadUrl)) {
        if (mirror.url == url && !mirror.leftOut.empty()) {
            return "--mirror-url \"" + url + "\" is " + mirror.leftOut +
                   "; the launcher would leave it out";
        }
    }
    return {};
}

// The --mirror-url values into info's mirror list, in the order given; false with problem set
// when one would not be fetched from, or the line would be too long for the launcher to read.
bool readMirrorOptions(const ParsedArguments& parsed, LatestVersionInfo& info,
                       std::string& problem) {
    if (!parsed.has("--mirror-url")) {
        return true;
    }
    for (const std::string& url : parsed.lists.at("--mirror-url")) {
        problem = mirrorProblem(url, info);
        if (!problem.empty()) {
            return false;
        }
        info.ApplicationDownloadMirrorUrls +=
            (info.ApplicationDownloadMirrorUrls.empty() ? "" : " ") + url;
    }
    const std::size_t line =
        std::string(mirrorUrlsKey).size() + 1 + info.ApplicationDownloadMirrorUrls.size();
    if (line > kLinePieceBytes) {
        problem = "the --mirror-url values make the " + std::string(mirrorUrlsKey) + " line " +
                  std::to_string(line) + " bytes long; the launcher reads at most " +
                  std::to_string(kLinePieceBytes) + " (at most " +
                  std::to_string(kLinePieceBytes - std::string(mirrorUrlsKey).size() - 1) +
                  " bytes for the URLs and the blanks between them)";
        return false;
    }
    return true;
}

// The lines a checking launcher needs after the five keys, from the archives and options given.
std::optional<std::string> signedReleaseLines(const ParsedArguments& parsed, std::string& problem) {
    std::string lines;
    std::optional<std::string> expires;
    if (!readExpiryOptions(parsed, utcNow(), expires, problem)) {
        return std::nullopt;
    }
    if (parsed.has("--application-archive")) {
        const std::string archive = parsed.value("--application-archive");
        const auto hash = sha256FileHex(archive);
        const auto index = readArchiveIndex(archive, problem);
        if (!hash || !index) {
            problem = hash ? problem : "cannot read " + archive;
            return std::nullopt;
        }
        lines += "ApplicationSha256=" + *hash + "\n";
        lines += "ApplicationIndexSha256=" + sha256Hex(*index) + "\n";
    }
    if (parsed.has("--launcher-archive")) {
        const auto hash = sha256FileHex(parsed.value("--launcher-archive"));
        if (!hash) {
            problem = "cannot read " + parsed.value("--launcher-archive");
            return std::nullopt;
        }
        lines += "LauncherInstallerSha256=" + *hash + "\n";
    }
    if (parsed.has("--serial")) {
        if (!parseManifestSerial(parsed.value("--serial"))) {
            problem = "--serial must be a decimal number";
            return std::nullopt;
        }
        lines += "ManifestSerial=" + parsed.value("--serial") + "\n";
    }
    if (expires) {
        lines += "ManifestExpires=" + *expires + "\n";
    }
    if (parsed.has("--sign-with") && !parsed.has("--serial")) {
        problem = "--sign-with needs --serial: a checking launcher refuses a manifest without "
                  "ManifestSerial";
        return std::nullopt;
    }
    return lines;
}

std::optional<std::string> signedIfAsked(const ParsedArguments& parsed, const std::string& text,
                                         std::string& problem) {
    if (!parsed.has("--sign-with")) {
        return text;
    }
    const std::vector<SigningKey> keys = readSigningKeys(parsed.lists.at("--sign-with"), problem);
    if (keys.empty()) {
        return std::nullopt;
    }
    return signedManifestText(keys, text, problem);
}

bool readsBackAsWritten(const std::string& text, const LatestVersionInfo& wanted) {
    LatestVersionInfo read;
    if (parseLikeLauncher(text, read) != 0) {
        return false;
    }
    for (std::size_t key = 0; key < kManifestKeys.size(); ++key) {
        if (manifestField(read, key) != manifestField(wanted, key)) {
            return false;
        }
    }
    return read.ApplicationDownloadMirrorUrls == wanted.ApplicationDownloadMirrorUrls;
}

// Refuses archives that launchers could not use, before any manifest names them.
bool archivesHoldTheirBundles(const ParsedArguments& parsed, const LatestVersionInfo& info,
                              std::string& problem) {
    const ReleaseArchives archives{parsed.value("--application-archive"),
                                   parsed.value("--launcher-archive"),
                                   info.ApplicationExecutablePrefix, parsed.value("--app-name")};
    for (const ArchiveCheckLine& line : checkReleaseArchives(archives)) {
        if (line.skipped) {
            std::cout << line.name << ": skipped, " << line.problem << " (--app-name names it)\n";
        } else if (!line.problem.empty()) {
            problem = line.problem;
            return false;
        }
    }
    return true;
}

// The mistakes no launcher reports back, each refused with its line before anything is written;
// the serial and version against the live manifest when it is given, and the launcher the
// installer ships when it is given.
bool passesPublishingChecks(const ParsedArguments& parsed, const std::string& text) {
    std::optional<std::string> live;
    std::string problem;
    if (parsed.has("--live-manifest")) {
        live = fetchLiveManifest(parsed.value("--live-manifest"), problem);
        if (!live) {
            reportError("manifest", problem, kFailure);
            return false;
        }
    }
    PublishingChecks result = checkBeforePublishing(text, live, utcNow());
    if (parsed.has("--launcher-archive")) {
        ShippedLauncherChecks shipped =
            checkShippedLauncher(text, parsed.value("--launcher-archive"), utcNow());
        result.checks.insert(result.checks.end(), shipped.checks.begin(), shipped.checks.end());
        if (!shipped.skipped.empty()) {
            result.notes.push_back(shipped.skipped);
        }
    }
    for (const std::string& note : result.notes) {
        std::cerr << "launcher-publish manifest: note: " << note << "\n";
    }
    for (const ManifestCheck& check : result.checks) {
        if (!check.passed) {
            reportError("manifest", check.detail, kFailure);
        }
    }
    return result.passed();
}

// The five key options and the rest, all taking a value; --sign-with and --mirror-url may be
// given again.
AcceptedOptions manifestOptions() {
    AcceptedOptions accepted{.valued = {kKeyOptions.begin(), kKeyOptions.end()}};
    for (const char* option :
         {"--output", "--application-archive", "--launcher-archive", "--serial", "--app-name",
          kExpiresIn, kExpiresAt, "--live-manifest", kRollout}) {
        accepted.valued.push_back(option);
    }
    accepted.repeated = {"--sign-with", "--mirror-url"};
    return accepted;
}

int runManifest(const ParsedArguments& parsed) {
    std::string error;
    if (!parsed.positionals.empty()) {
        return reportError("manifest", "unexpected argument '" + parsed.positionals.front() + "'",
                           kUsageError);
    }
    const std::string missing = missingOptions(parsed, {kKeyOptions.begin(), kKeyOptions.end()});
    if (!missing.empty()) {
        return reportError("manifest", "missing " + missing + " (see --help)", kUsageError);
    }
    std::optional<int> rollout;
    if (!readRolloutOption(parsed, rollout, error)) {
        return reportError("manifest", error, kUsageError);
    }
    LatestVersionInfo info;
    for (std::size_t key = 0; key < kManifestKeys.size(); ++key) {
        const std::string value = parsed.value(kKeyOptions[key]);
        const std::string problem = valueProblem(key, value);
        if (!problem.empty()) {
            return reportError("manifest", std::string(kKeyOptions[key]) + " " + problem, kFailure);
        }
        manifestField(info, key) = value;
    }
    if (!readMirrorOptions(parsed, info, error)) {
        return reportError("manifest", error, kFailure);
    }
    const auto releaseLines = signedReleaseLines(parsed, error);
    if (!releaseLines || !archivesHoldTheirBundles(parsed, info, error)) {
        return reportError("manifest", error, kFailure);
    }
    const std::string text =
        manifestText(info) + (rollout ? rolloutPercentLine(*rollout) : "") + *releaseLines;
    if (!readsBackAsWritten(text, info) || readRollout(text).percent != rollout.value_or(100)) {
        return reportError("manifest", "the launcher would not read these values as given",
                           kFailure);
    }
    if (parsed.has("--output") && parsed.value("--output").empty()) {
        return reportError("manifest", "--output must name a file", kUsageError);
    }
    const fs::path output = parsed.has("--output") ? parsed.value("--output") : "LatestVersion.ini";
    const auto finalText = signedIfAsked(parsed, text, error);
    if (!finalText) {
        return reportError("manifest", error, kFailure);
    }
    if (!passesPublishingChecks(parsed, *finalText)) {
        return kFailure;
    }
    if (!writeFileAtomically(output.string(), *finalText, error)) {
        return reportError("manifest", error, kFailure);
    }
    std::cout << "wrote " << output.string() << "\n";
    return kSuccess;
}

} // namespace

const Command manifestCommand{manifestOptions(), kHelp, runManifest};
