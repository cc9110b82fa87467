// lint: explains, line by line, everything in a manifest that the launcher would read
// otherwise than its author meant. The values shown come from the launcher's own parser call.
#include "tools/publish/archive_names.h"
#include "tools/publish/commands.h"
#include "tools/publish/expiry_findings.h"
#include "tools/publish/lint_report.h"
#include "tools/publish/manifest_analysis.h"
#include "tools/publish/manifest_fetch.h"
#include "tools/publish/mirror_findings.h"
#include "tools/publish/options.h"
#include "tools/publish/rollout_findings.h"
#include "update/release/manifest_expiry.h"
#include "update/release/mirror_urls.h"
#include "update/release/release_signature.h"
#include "update/release/sha256_stream.h"
#include "update/release/signature_threshold.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* const kHelp =
    "usage: launcher-publish lint [--quiet] [--json] <file or http(s) URL>\n"
    "       launcher-publish lint [--quiet] <archive.zip>\n"
    "\n"
    "Reads a version manifest (LatestVersion.ini) the way the launcher reads it and reports\n"
    "every line that the launcher reads otherwise than it looks: a key under a named\n"
    "section, a key in another letter case, a key given twice, a line longer than 199 bytes,\n"
    "an indented line that replaces the value before it, a line without \"=\" or \":\", a\n"
    "missing key, a \" ;\" inside a value, blanks after a version, a NUL byte, and (for a URL)\n"
    "an HTTP error status. For a launcher that checks signatures it also reports a\n"
    "ManifestSignature line that is not among the lines that end the manifest, a\n"
    "ManifestSerial that is not a number, hash values that are not 64 lower-case hex\n"
    "digits, a ManifestExpires that is not a UTC time or has passed, and (as a note) a\n"
    "signed manifest that expires in less than a day. Of ApplicationDownloadMirrorUrls it\n"
    "notes each mirror the launcher fetches from and reports each URL it leaves out (not\n"
    "http:// or https://, ApplicationDownloadUrl again, named twice) and a mirror line after\n"
    "the ManifestSignature line, outside the signed text. Of RolloutPercent it notes the\n"
    "share of players the release reaches and reports a value that is not a whole number\n"
    "from 0 to 100, which the launcher takes as 0. Then it shows the values the launcher\n"
    "ends up with.\n"
    "\n"
    "A URL is fetched like the launcher fetches it: redirects followed, the server's\n"
    "certificate not verified, and no more of its body read than the launcher reads (65536\n"
    "bytes; a larger one the launcher refuses).\n"
    "\n"
    "Given a ZIP archive (a file that starts like one) it reports every two entries that\n"
    "the launcher refuses because they would be one file on a player's disk: the same name\n"
    "twice, or names that differ only in letter case or Unicode normalization, which a\n"
    "Mac's disk takes for one.\n"
    "\n"
    "options:\n"
    "  --quiet      print only the findings\n"
    "  --json       print one JSON object instead: source, findings (line, kind, message),\n"
    "               reading (the values the launcher ends up with), parserResult, problems\n"
    "               and passed; or source, error and passed when it cannot be read\n"
    "  -h, --help   show this help\n"
    "\n"
    "exit status: 0 when the launcher reads the manifest as meant, 1 when it does not,\n"
    "2 when the manifest cannot be read or the command line is wrong.\n";

// A manifest file is a few hundred bytes; anything far larger is not one, and is not kept whole.
constexpr std::size_t kLargestManifest = 1 << 20;

struct Manifest {
    std::string bytes;
    long httpStatus = 0; // 0 for a file
};

bool fetchUrl(const std::string& url, Manifest& manifest, std::string& problem) {
    FetchedManifest fetched;
    const bool done = fetchManifestUrl(url, fetched, problem);
    manifest.bytes = std::move(fetched.bytes);
    manifest.httpStatus = fetched.httpStatus;
    return done;
}

bool readFileBytes(const std::string& path, Manifest& manifest, std::string& problem) {
    // Only a regular file of a sane size: a pipe or a device would block or never end.
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        problem = path + (fs::exists(path, error) ? " is not a regular file" : " does not exist");
        return false;
    }
    if (fs::file_size(path, error) > kLargestManifest) {
        problem = path + " is larger than " + std::to_string(kLargestManifest) +
                  " bytes; that is no manifest";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "cannot open " + path;
        return false;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        problem = "cannot read " + path;
        return false;
    }
    manifest.bytes = bytes.str();
    return true;
}

std::size_t lineOfOffset(const std::string& bytes, std::size_t offset) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < offset; ++i) {
        line += bytes[i] == '\n' ? 1 : 0;
    }
    return line;
}

// The findings that come from the way the text reaches the parser rather than from its lines.
std::vector<ManifestFinding> transportFindings(const Manifest& manifest) {
    std::vector<ManifestFinding> findings;
    if (manifest.httpStatus >= 400) {
        findings.push_back({0, "the server answered with HTTP status " +
                                   std::to_string(manifest.httpStatus) +
                                   "; the launcher parses that page as the manifest"});
    }
    const std::size_t nul = manifest.bytes.find('\0');
    if (nul != std::string::npos) {
        findings.push_back({lineOfOffset(manifest.bytes, nul),
                            "a NUL byte: the launcher reads nothing from here on"});
    }
    return findings;
}

// "Key=value" at the start of a line, as the signing keys are written; none for other lines.
std::optional<std::pair<std::string, std::string>> keyLineOf(std::string line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    const std::size_t separator = line.find_first_of("=:");
    if (separator == std::string::npos || line.empty() || line[0] == ' ' || line[0] == '\t') {
        return std::nullopt;
    }
    auto trimmed = [](std::string text) {
        const auto first = text.find_first_not_of(" \t");
        const auto last = text.find_last_not_of(" \t");
        return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    };
    return std::make_pair(trimmed(line.substr(0, separator)), trimmed(line.substr(separator + 1)));
}

// What a launcher with releaseSigningPublicKey would refuse in the signing keys.
std::vector<ManifestFinding> signingFindings(const std::string& text) {
    std::vector<ManifestFinding> findings;
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    // The signature lines that end the manifest each sign all before the first of them.
    const std::size_t firstClosingSignature =
        lines.size() - splitAtSignatureBlock(text).signatures.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto keyLine = keyLineOf(lines[i]);
        if (!keyLine) {
            continue;
        }
        const auto& [key, value] = *keyLine;
        if (key == "ManifestSignature" && i < firstClosingSignature) {
            findings.push_back({i + 1, "the ManifestSignature line is not the last line, nor "
                                       "among the signature lines that end the manifest; a "
                                       "launcher that checks signatures refuses the manifest"});
        } else if (key == "ManifestSerial" && !parseManifestSerial(value)) {
            findings.push_back({i + 1, "ManifestSerial \"" + value + "\" is not a decimal number"});
        } else if ((key == "ApplicationSha256" || key == "LauncherInstallerSha256" ||
                    key == "ApplicationIndexSha256") &&
                   !isSha256Hex(value)) {
            findings.push_back({i + 1, key + " \"" + value + "\" is not 64 lower-case hex digits"});
        }
    }
    return findings;
}

bool sameValues(const LatestVersionInfo& a, const LatestVersionInfo& b) {
    for (std::size_t key = 0; key < kManifestKeys.size(); ++key) {
        if (manifestField(a, key) != manifestField(b, key)) {
            return false;
        }
    }
    return a.ApplicationDownloadMirrorUrls == b.ApplicationDownloadMirrorUrls;
}

// Every finding about the manifest read from source; none, with problem set, when the launcher's
// parser read it in a way the analysis cannot explain (report.reading holds what it read).
bool collectFindings(const Manifest& manifest, LintReport& report, std::string& problem) {
    // The launcher hands the parser a NUL-terminated string; so does this.
    const std::string text(manifest.bytes.c_str());
    report.parseResult = parseLikeLauncher(text, report.reading);
    const ManifestAnalysis analysis = analyseManifest(text);
    if (!sameValues(analysis.values, report.reading) ||
        analysis.firstMalformedLine != report.parseResult) {
        problem = "cannot explain how the launcher's parser read this manifest; the values "
                  "shown are what it reads";
        return false;
    }
    auto& findings = report.findings;
    findings = transportFindings(manifest);
    findings.insert(findings.end(), analysis.findings.begin(), analysis.findings.end());
    const auto signing = signingFindings(text);
    findings.insert(findings.end(), signing.begin(), signing.end());
    const auto expiry = expiryFindings(text, utcNow());
    findings.insert(findings.end(), expiry.begin(), expiry.end());
    const auto mirrors = mirrorFindings(text, analysis);
    findings.insert(findings.end(), mirrors.begin(), mirrors.end());
    report.rollout = readRollout(text);
    const auto rollout = rolloutFindings(text, analysis);
    findings.insert(findings.end(), rollout.begin(), rollout.end());
    return true;
}

int runLint(const ParsedArguments& parsed) {
    std::string error;
    if (parsed.positionals.size() != 1) {
        return reportError("lint", "give exactly one manifest file or URL (see --help)",
                           kUsageError);
    }
    const std::string source = parsed.positionals.front();
    const bool json = parsed.hasSwitch("--json");
    if (!isUrl(source) && looksLikeZipArchive(source)) {
        if (json) {
            return reportError("lint", "--json reads manifests, not archives", kUsageError);
        }
        return lintArchive(source, parsed.hasSwitch("--quiet"));
    }
    Manifest manifest;
    const bool read =
        isUrl(source) ? fetchUrl(source, manifest, error) : readFileBytes(source, manifest, error);
    LintReport report;
    report.source = source;
    if (!read || !collectFindings(manifest, report, error)) {
        if (json) {
            printLintJsonError(source, error);
        } else if (read) {
            printLintReading(report);
        }
        return reportError("lint", error, kUsageError);
    }
    if (json) {
        printLintJson(report);
    } else {
        printLintText(report, parsed.hasSwitch("--quiet"));
    }
    return report.traps() == 0 ? kSuccess : kFailure;
}

} // namespace

const Command lintCommand{{.switches = {"--quiet", "--json"}}, kHelp, runLint};
