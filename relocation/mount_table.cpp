#include "relocation/mount_table.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

bool isOctalDigit(char c) {
    return c >= '0' && c <= '7';
}

// mountinfo writes blanks, tabs, line ends and backslashes as a backslash and three octal digits.
std::string unescaped(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctalDigit(field[i + 1]) &&
            isOctalDigit(field[i + 2]) && isOctalDigit(field[i + 3])) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::optional<MountEntry> parseLine(const std::string& line) {
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) {
        fields.push_back(word);
    }
    // id parent major:minor root mount-point options [optional fields...] - type source options
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") {
        ++separator;
    }
    if (fields.size() < 5 || separator + 2 >= fields.size()) {
        return std::nullopt;
    }
    MountEntry entry;
    try {
        entry.id = std::stoi(fields[0]);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    entry.mountPoint = unescaped(fields[4]);
    entry.source = unescaped(fields[separator + 2]);
    return entry;
}

bool isBelow(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") {
        return !path.empty() && path.front() == '/';
    }
    return path == mountPoint || (path.starts_with(mountPoint) && path[mountPoint.size()] == '/');
}

} // namespace

std::vector<MountEntry> parseMountInfo(const std::string& text) {
    std::vector<MountEntry> mounts;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (auto entry = parseLine(line)) {
            mounts.push_back(std::move(*entry));
        }
    }
    return mounts;
}

std::optional<MountEntry> mountHolding(const std::vector<MountEntry>& mounts,
                                       const std::string& path) {
    std::optional<MountEntry> best;
    for (const MountEntry& mount : mounts) {
        if (isBelow(path, mount.mountPoint) &&
            (!best || mount.mountPoint.size() >= best->mountPoint.size())) {
            best = mount;
        }
    }
    return best;
}

std::optional<MountEntry> mountHoldingPath(const std::string& path) {
    std::ifstream file("/proc/self/mountinfo");
    std::stringstream text;
    text << file.rdbuf();
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(path, error);
    if (error) {
        return std::nullopt;
    }
    return mountHolding(parseMountInfo(text.str()), resolved.string());
}
