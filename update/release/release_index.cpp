#include "update/release/release_index.h"

#include "update/release/sha256_stream.h"

#include <algorithm>
#include <sstream>

namespace {

bool needsEscape(const std::string& name) {
    return name.find_first_of("\\\n") != std::string::npos;
}

std::string escaped(const std::string& name) {
    std::string text;
    for (const char c : name) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\n') {
            text += "\\n";
        } else {
            text += c;
        }
    }
    return text;
}

std::optional<std::string> unescaped(const std::string& text) {
    std::string name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            name += text[i];
            continue;
        }
        if (++i == text.size() || (text[i] != '\\' && text[i] != 'n')) {
            return std::nullopt;
        }
        name += text[i] == 'n' ? '\n' : '\\';
    }
    return name;
}

std::optional<ReleaseIndexEntry> parseLine(std::string line) {
    const bool isEscaped = !line.empty() && line[0] == '\\';
    if (isEscaped) {
        line.erase(0, 1);
    }
    if (line.size() < 67 || line[64] != ' ' || (line[65] != ' ' && line[65] != '@')) {
        return std::nullopt;
    }
    ReleaseIndexEntry entry{line.substr(66), line.substr(0, 64), line[65] == '@'};
    if (!isSha256Hex(entry.sha256)) {
        return std::nullopt;
    }
    if (isEscaped) {
        auto name = unescaped(entry.name);
        if (!name) {
            return std::nullopt;
        }
        entry.name = *name;
    }
    return entry;
}

} // namespace

std::string formatReleaseIndex(std::vector<ReleaseIndexEntry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    std::string text;
    for (const ReleaseIndexEntry& entry : entries) {
        const bool escape = needsEscape(entry.name);
        text += (escape ? "\\" : "") + entry.sha256 + (entry.link ? " @" : "  ") +
                (escape ? escaped(entry.name) : entry.name) + "\n";
    }
    return text;
}

std::optional<std::vector<ReleaseIndexEntry>> parseReleaseIndex(const std::string& text) {
    std::vector<ReleaseIndexEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        auto entry = parseLine(line);
        if (!entry) {
            return std::nullopt;
        }
        entries.push_back(std::move(*entry));
    }
    return entries;
}
