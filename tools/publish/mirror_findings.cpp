#include "tools/publish/mirror_findings.h"

#include "update/release/mirror_urls.h"
#include "update/release/release_signature.h"

#include <sstream>

namespace {

// Whether line starts with key, then blanks and "=" or ":", as the parser reads a top-level key.
bool isKeyLine(const std::string& line, const std::string& key) {
    if (line.compare(0, key.size(), key) != 0) {
        return false;
    }
    const std::size_t separator = line.find_first_not_of(" \t", key.size());
    return separator != std::string::npos && (line[separator] == '=' || line[separator] == ':');
}

// Mirror lines below a ManifestSignature line: appended after signing, they are no part of the
// signed bytes, and the signature line is no longer last.
std::vector<ManifestFinding> unsignedMirrorLines(const std::string& text) {
    std::vector<ManifestFinding> findings;
    bool afterSignature = false;
    std::size_t number = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (signatureOfLine(line)) {
            afterSignature = true;
        } else if (afterSignature && isKeyLine(line, mirrorUrlsKey)) {
            findings.push_back(
                {number, std::string(mirrorUrlsKey) +
                             " comes after a ManifestSignature line, outside the text the "
                             "signature covers: a launcher that checks signatures refuses the "
                             "manifest, and never fetches from mirrors the signature does not "
                             "cover (sign the manifest again)"});
        }
    }
    return findings;
}

} // namespace

std::vector<ManifestFinding> mirrorFindings(const std::string& text,
                                            const ManifestAnalysis& analysis) {
    std::vector<ManifestFinding> findings = unsignedMirrorLines(text);
    const LatestVersionInfo& values = analysis.values;
    std::size_t place = 1;
    for (const MirrorUrl& mirror :
         readMirrorUrls(values.ApplicationDownloadMirrorUrls, values.ApplicationDownloadUrl)) {
        const std::string named = "the mirror \"" + mirror.url + "\"";
        if (mirror.leftOut.empty()) {
            findings.push_back({analysis.mirrorLine,
                                named + " is place " + std::to_string(++place) +
                                    " of the content archive; it must serve the very bytes of "
                                    "ApplicationDownloadUrl",
                                false});
        } else {
            // Only a URL the launcher cannot fetch from loses a place; a repeated one is harmless.
            findings.push_back({analysis.mirrorLine,
                                named + " is " + mirror.leftOut + "; the launcher leaves it out",
                                !isHttpUrl(mirror.url)});
        }
    }
    return findings;
}
