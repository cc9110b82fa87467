#include "tools/publish/manifest_analysis.h"

#include "tools/publish/manifest_pieces.h"

#include "update/release/mirror_urls.h"
#include "update/release/rollout.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ini.h>
#include <optional>
#include <string_view>

namespace {

// The parser keeps a key name for continuation lines in a 50-byte buffer.
constexpr std::size_t kKeptNameBytes = 49;

std::optional<std::size_t> exactKey(std::string_view name) {
    for (std::size_t i = 0; i < kManifestKeys.size(); ++i) {
        if (name == kManifestKeys[i]) {
            return i;
        }
    }
    return std::nullopt;
}

bool sameInAnyCase(std::string_view key, std::string_view name) {
    return key.size() == name.size() &&
           std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::optional<std::size_t> keyInAnyCase(std::string_view name) {
    for (std::size_t i = 0; i < kManifestKeys.size(); ++i) {
        if (sameInAnyCase(kManifestKeys[i], name)) {
            return i;
        }
    }
    return std::nullopt;
}

// The optional keys (further archive places, the rollout): read like the five, never missing.
std::optional<std::string_view> otherKeyInAnyCase(std::string_view name) {
    for (std::string_view key :
         {std::string_view(mirrorUrlsKey), std::string_view(rolloutPercentKey)}) {
        if (sameInAnyCase(key, name)) {
            return key;
        }
    }
    if (const auto key = keyInAnyCase(name)) {
        return kManifestKeys[*key];
    }
    return std::nullopt;
}

// Read by a launcher that checks signatures (lint reports their own problems separately).
bool isSigningKey(std::string_view name) {
    for (std::string_view key :
         {"ApplicationSha256", "ApplicationIndexSha256", "LauncherInstallerSha256",
          "ManifestSerial", "ManifestExpires", "ManifestSignature"}) {
        if (name == key) {
            return true;
        }
    }
    return false;
}

bool isVersionKey(std::size_t key) {
    return key == 0 || key == 3;
}

// Versions are compared byte for byte and the prefix becomes part of a bundle name, so a blank
// the author did not see matters there. Blanks beyond ASCII that the parser does not strip:
// no-break space, the U+2000 range, narrow no-break space, ideographic space and a byte-order mark.
bool endsWithUnicodeBlank(std::string_view value) {
    for (std::string_view blank :
         {"\xC2\xA0", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83",
          "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
          "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\x8B", "\xE2\x80\xAF", "\xE3\x80\x80",
          "\xEF\xBB\xBF"}) {
        if (value.size() >= blank.size() && value.substr(value.size() - blank.size()) == blank) {
            return true;
        }
    }
    return false;
}

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

class Walker {
  public:
    ManifestAnalysis run(const std::string& text);

  private:
    void reportLongLines(const std::string& text);
    void readPiece(const Piece& piece, int number);
    void readContinuation(std::string_view start, std::size_t line);
    void readHeader(std::string_view start, std::size_t line, int number);
    void readKeyLine(std::string_view start, std::string_view rawLine, std::size_t line,
                     int number);
    void deliver(std::string_view name, std::string_view value, std::size_t line,
                 bool continuation);
    void deliverOptional(std::string_view name, std::size_t& keptLine, std::string_view value,
                         std::size_t line, bool continuation);
    void checkValueText(const std::string& name, std::optional<std::size_t> key,
                        std::string_view rawValue, std::string_view value, std::size_t line);
    void reportMissingKeys();
    void reportSigningKeys();
    void malformed(std::size_t line, int number, const std::string& why);
    void trap(std::size_t line, std::string message) {
        result.findings.push_back({line, std::move(message), true});
    }

    ManifestAnalysis result;
    std::string section;
    std::string previousName;
    std::size_t previousNameLine = 0;
    std::array<std::size_t, kManifestKeys.size()> keyLine{};          // 0: not given at top level
    std::vector<std::pair<std::size_t, std::string>> signingKeyLines; // line, key
    bool signedManifest = false;
};

ManifestAnalysis Walker::run(const std::string& text) {
    reportLongLines(text);
    const std::vector<Piece> pieces = splitIntoPieces(text);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        readPiece(pieces[i], static_cast<int>(i + 1));
    }
    reportMissingKeys();
    reportSigningKeys();
    std::stable_sort(
        result.findings.begin(), result.findings.end(), [](const auto& a, const auto& b) {
            // Findings about the file as a whole (line 0) come after the lines.
            return (a.line == 0 ? SIZE_MAX : a.line) < (b.line == 0 ? SIZE_MAX : b.line);
        });
    return result;
}

void Walker::reportLongLines(const std::string& text) {
    std::size_t line = 1;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t newline = std::min(text.find('\n', at), text.size());
        const std::string_view content =
            stripRight(std::string_view(text).substr(at, newline - at));
        if (content.size() > kLinePieceBytes) {
            trap(line, "the line is " + std::to_string(content.size()) +
                           " bytes long; the launcher cuts it after " +
                           std::to_string(kLinePieceBytes) +
                           " bytes and reads the rest as further lines: " +
                           quoted(content.substr(kLinePieceBytes)));
        }
        at = newline + 1;
        ++line;
    }
}

void Walker::readPiece(const Piece& piece, int number) {
    std::string_view line = piece.text;
    bool indented = false;
    if (number == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") {
        line.remove_prefix(3);
        indented = true; // the parser counts a skipped byte-order mark as indentation
    }
    const std::string_view start = stripLeft(stripRight(line));
    indented = indented || (!start.empty() && start.data() != line.data());
    if (start.empty() || start.front() == ';' || start.front() == '#') {
        return;
    }
    if (!previousName.empty() && indented) {
        readContinuation(start, piece.line);
    } else if (start.front() == '[') {
        readHeader(start, piece.line, number);
    } else {
        readKeyLine(start, line, piece.line, number);
    }
}

void Walker::readContinuation(std::string_view start, std::size_t line) {
    const std::string_view value = stripRight(start.substr(0, findCharsOrComment(start, "")));
    trap(line, "the line is indented, so the launcher reads it as a new value for " + previousName +
                   " (line " + std::to_string(previousNameLine) + "): " + quoted(value) +
                   " replaces the value before it");
    deliver(previousName, value, line, true);
}

void Walker::readHeader(std::string_view start, std::size_t line, int number) {
    const std::size_t end = findCharsOrComment(start.substr(1), "]") + 1;
    if (end >= start.size() || start[end] != ']') {
        malformed(line, number, "a section header without \"]\"");
        return;
    }
    section = std::string(start.substr(1, end - 1));
    previousName.clear();
}

void Walker::readKeyLine(std::string_view start, std::string_view rawLine, std::size_t line,
                         int number) {
    const std::size_t separator = findCharsOrComment(start, "=:");
    if (separator == start.size() || (start[separator] != '=' && start[separator] != ':')) {
        malformed(line, number,
                  separator == start.size() ? "neither \"=\" nor \":\" on the line"
                                            : "\" ;\" starts a comment before any \"=\" or \":\"");
        return;
    }
    const std::string_view name = stripRight(start.substr(0, separator));
    const std::string_view afterSeparator = start.substr(separator + 1);
    const std::string_view value =
        stripRight(stripLeft(afterSeparator.substr(0, findCharsOrComment(afterSeparator, ""))));
    previousName = std::string(name.substr(0, kKeptNameBytes));
    previousNameLine = line;
    // The raw value runs to the end of the piece, before the parser trims anything.
    const std::size_t rawStart = static_cast<std::size_t>(afterSeparator.data() - rawLine.data());
    std::string_view rawValue = rawLine.substr(rawStart);
    if (!rawValue.empty() && rawValue.back() == '\n') {
        rawValue.remove_suffix(1);
    }
    if (!rawValue.empty() && rawValue.back() == '\r') {
        rawValue.remove_suffix(1);
    }
    const auto key = exactKey(name);
    if (section.empty() && (key || name == mirrorUrlsKey)) {
        checkValueText(std::string(name), key, rawValue, value, line);
    }
    deliver(name, value, line, false);
}

// key: which of the five, none for the mirror list.
void Walker::checkValueText(const std::string& name, std::optional<std::size_t> key,
                            std::string_view rawValue, std::string_view value, std::size_t line) {
    const std::size_t comment = findCharsOrComment(rawValue, "");
    if (comment < rawValue.size()) {
        trap(line, "the value of " + name + " ends at the \" ;\": the launcher reads " +
                       quoted(value) + " and drops " + quoted(rawValue.substr(comment)));
        return;
    }
    if (!key || (!isVersionKey(*key) && *key != 2)) {
        return; // blanks after a URL do no harm
    }
    if (!rawValue.empty() && isBlank(rawValue.back())) {
        trap(line,
             "blanks at the end of " + name + " are dropped: the launcher reads " + quoted(value));
    } else if (endsWithUnicodeBlank(value)) {
        trap(line, name +
                       " ends with an invisible Unicode blank, which the launcher keeps and "
                       "compares: " +
                       quoted(value));
    }
}

void Walker::deliver(std::string_view name, std::string_view value, std::size_t line,
                     bool continuation) {
    if (!section.empty()) {
        const auto key = otherKeyInAnyCase(name);
        if (key && !continuation) {
            trap(line, std::string(*key) + " is under the section [" + section +
                           "]; the launcher ignores every key under a named section");
        }
        return;
    }
    if (name == mirrorUrlsKey) {
        deliverOptional(name, result.mirrorLine, value, line, continuation);
        result.values.ApplicationDownloadMirrorUrls = std::string(value);
        return;
    }
    if (name == rolloutPercentKey) {
        deliverOptional(name, result.rolloutLine, value, line, continuation);
        return;
    }
    const auto key = exactKey(name);
    if (!key && isSigningKey(name)) {
        if (!continuation) {
            signingKeyLines.emplace_back(line, std::string(name));
        }
        signedManifest = signedManifest || name == "ManifestSignature";
        return;
    }
    if (!key) {
        const auto similar = otherKeyInAnyCase(name);
        if (similar && !continuation) {
            trap(line, quoted(name) + " is not " + std::string(*similar) +
                           ": the launcher compares keys in their exact letter case and "
                           "ignores this one");
        } else if (!continuation && !isSigningKey(name)) {
            result.findings.push_back(
                {line, quoted(name) + " is not a key the launcher reads; it is ignored", false});
        }
        return;
    }
    if (keyLine[*key] != 0 && !continuation) {
        trap(line, std::string(kManifestKeys[*key]) + " is given again (first on line " +
                       std::to_string(keyLine[*key]) + "); the launcher keeps the last value, " +
                       quoted(value));
    }
    if (!continuation) {
        keyLine[*key] = line;
    }
    manifestField(result.values, *key) = std::string(value);
}

// An optional key given again is a trap; keptLine follows the value the launcher ends up with.
void Walker::deliverOptional(std::string_view name, std::size_t& keptLine, std::string_view value,
                             std::size_t line, bool continuation) {
    if (keptLine != 0 && !continuation) {
        trap(line, std::string(name) + " is given again (first on line " +
                       std::to_string(keptLine) + "); the launcher keeps the last value, " +
                       quoted(value));
    }
    if (!continuation) {
        keptLine = line;
    }
}

void Walker::malformed(std::size_t line, int number, const std::string& why) {
    if (result.firstMalformedLine == 0) {
        result.firstMalformedLine = number;
    }
    trap(line, why + ": the launcher's parser reports the line as malformed, and the launcher "
                     "then takes the whole manifest as unreadable");
}

void Walker::reportMissingKeys() {
    for (std::size_t key = 0; key < kManifestKeys.size(); ++key) {
        // Only the executable prefix may be empty: the bundle is then named appDisplayName.app.
        if (keyLine[key] != 0 && key != 2 && manifestField(result.values, key).empty()) {
            trap(keyLine[key], std::string(kManifestKeys[key]) + " is empty");
        }
        if (keyLine[key] != 0) {
            continue;
        }
        trap(0, std::string(kManifestKeys[key]) +
                    " is missing at the top level; the launcher keeps an empty value");
    }
}

// On a signed manifest these keys are what a checking launcher reads; only on one that is not
// signed are they worth a word.
void Walker::reportSigningKeys() {
    if (signedManifest) {
        return;
    }
    for (const auto& [line, name] : signingKeyLines) {
        result.findings.push_back(
            {line,
             quoted(name) + " is read only by a launcher that checks signatures, which refuses "
                            "this manifest: it has no ManifestSignature line. A launcher without "
                            "a key ignores it",
             false});
    }
}

} // namespace

std::string& manifestField(LatestVersionInfo& info, std::size_t key) {
    std::string* fields[] = {&info.ApplicationVersion, &info.ApplicationDownloadUrl,
                             &info.ApplicationExecutablePrefix, &info.LauncherVersion,
                             &info.LauncherInstallerDownloadUrl};
    return *fields[key];
}

const std::string& manifestField(const LatestVersionInfo& info, std::size_t key) {
    return manifestField(const_cast<LatestVersionInfo&>(info), key);
}

ManifestAnalysis analyseManifest(const std::string& text) {
    return Walker().run(text);
}

int parseLikeLauncher(const std::string& text, LatestVersionInfo& info) {
    return parseLatestVersionInfo(text, info);
}
