// lint: explains, line by line, everything in a manifest that the launcher would read
// otherwise than its author meant. The values shown come from the launcher's own parser call.
#include "tools/publish/archive_names.h"
#include "tools/publish/commands.h"
#include "tools/publish/expiry_findings.h"
#include "tools/publish/manifest_analysis.h"
#include "tools/publish/mirror_findings.h"
#include "tools/publish/options.h"
#include "tools/publish/rollout_findings.h"
#include "update/http/curl_session.h"
#include "update/release/manifest_expiry.h"
#include "update/release/mirror_urls.h"
#include "update/release/release_signature.h"
#include "update/release/sha256_stream.h"
#include "update/release/signature_threshold.h"

#include <curl/curl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* const kHelp =
    "usage: launcher-publish lint [--quiet] <file or http(s) URL>\n"
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
    "certificate not verified.\n"
    "\n"
    "Given a ZIP archive (a file that starts like one) it reports every two entries that\n"
    "the launcher refuses because they would be one file on a player's disk: the same name\n"
    "twice, or names that differ only in letter case or Unicode normalization, which a\n"
    "Mac's disk takes for one.\n"
    "\n"
    "options:\n"
    "  --quiet      print only the findings\n"
    "  -h, --help   show this help\n"
    "\n"
    "exit status: 0 when the launcher reads the manifest as meant, 1 when it does not,\n"
    "2 when the manifest cannot be read or the command line is wrong.\n";

// A manifest is a few hundred bytes; anything far larger is not one, and is not kept whole.
constexpr std::size_t kLargestManifest = 1 << 20;

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& body = *static_cast<std::string*>(user);
    const std::size_t n = size * count;
    if (body.size() + n > kLargestManifest) {
        return 0; // ends the transfer with a write error
    }
    body.append(data, n);
    return n;
}

bool isUrl(const std::string& source) {
    return source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0;
}

struct Manifest {
    std::string bytes;
    long httpStatus = 0; // 0 for a file
};

bool fetchUrl(const std::string& url, Manifest& manifest, std::string& problem) {
    // With the launcher's own options: redirects followed, certificates not verified.
    const CurlSession session(TransferKind::Manifest, TransferSettings{});
    CURL* easy = session.handle();
    if (easy == nullptr) {
        problem = "cannot start libcurl";
        return false;
    }
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &manifest.bytes);
    const CURLcode result = curl_easy_perform(easy);
    if (result != CURLE_OK) {
        problem = "cannot fetch " + url + ": " + curl_easy_strerror(result);
        if (manifest.bytes.size() >= kLargestManifest) {
            problem = url + " is larger than " + std::to_string(kLargestManifest) +
                      " bytes; that is no manifest";
        }
        return false;
    }
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &manifest.httpStatus);
    return true;
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

void printFindings(const std::string& source, const std::vector<ManifestFinding>& findings) {
    for (const auto& finding : findings) {
        std::cout << source;
        if (finding.line != 0) {
            std::cout << ":" << finding.line;
        }
        std::cout << ": " << (finding.trap ? "" : "note: ") << finding.message << "\n";
    }
}

void printReading(const LatestVersionInfo& info, const Rollout& rollout, int parseResult) {
    std::cout << "The launcher reads:\n";
    for (std::size_t key = 0; key < kManifestKeys.size(); ++key) {
        std::cout << "  " << kManifestKeys[key] << " = \"" << manifestField(info, key) << "\"\n";
    }
    if (!info.ApplicationDownloadMirrorUrls.empty()) {
        std::cout << "  " << mirrorUrlsKey << " = \"" << info.ApplicationDownloadMirrorUrls
                  << "\"\n";
    }
    if (rollout.named) {
        std::cout << "  " << rolloutPercentKey << " = \"" << rollout.value << "\"\n";
    }
    std::cout << "Rollout: " << rolloutSummary(rollout) << "\n";
    std::cout << "Parser result: " << parseResult
              << (parseResult == 0 ? " (no malformed line)\n"
                                   : " (the first malformed line, counted in 199-byte pieces)\n");
}

int runLint(const ParsedArguments& parsed) {
    std::string error;
    if (parsed.positionals.size() != 1) {
        return reportError("lint", "give exactly one manifest file or URL (see --help)",
                           kUsageError);
    }
    const std::string source = parsed.positionals.front();
    if (!isUrl(source) && looksLikeZipArchive(source)) {
        return lintArchive(source, parsed.hasSwitch("--quiet"));
    }
    Manifest manifest;
    const bool read =
        isUrl(source) ? fetchUrl(source, manifest, error) : readFileBytes(source, manifest, error);
    if (!read) {
        return reportError("lint", error, kUsageError);
    }

    // The launcher hands the parser a NUL-terminated string; so does this.
    const std::string text(manifest.bytes.c_str());
    LatestVersionInfo launcherReading;
    const int parseResult = parseLikeLauncher(text, launcherReading);
    const ManifestAnalysis analysis = analyseManifest(text);
    const Rollout rollout = readRollout(text);
    if (!sameValues(analysis.values, launcherReading) ||
        analysis.firstMalformedLine != parseResult) {
        printReading(launcherReading, rollout, parseResult);
        return reportError("lint",
                           "cannot explain how the launcher's parser read this manifest; the "
                           "values above are what it reads",
                           kUsageError);
    }

    std::vector<ManifestFinding> findings = transportFindings(manifest);
    findings.insert(findings.end(), analysis.findings.begin(), analysis.findings.end());
    const auto signing = signingFindings(text);
    findings.insert(findings.end(), signing.begin(), signing.end());
    const auto expiry = expiryFindings(text, utcNow());
    findings.insert(findings.end(), expiry.begin(), expiry.end());
    const auto mirrors = mirrorFindings(text, analysis);
    findings.insert(findings.end(), mirrors.begin(), mirrors.end());
    const auto rolloutNotes = rolloutFindings(text, analysis);
    findings.insert(findings.end(), rolloutNotes.begin(), rolloutNotes.end());
    printFindings(source, findings);
    std::size_t traps = 0;
    for (const auto& finding : findings) {
        traps += finding.trap ? 1 : 0;
    }
    if (!parsed.hasSwitch("--quiet")) {
        printReading(launcherReading, rollout, parseResult);
        std::cout << source << ": "
                  << (traps == 0 ? "the launcher reads it as written"
                                 : std::to_string(traps) + " problem(s)")
                  << "\n";
    }
    return traps == 0 ? kSuccess : kFailure;
}

} // namespace

const Command lintCommand{{.switches = {"--quiet"}}, kHelp, runLint};
