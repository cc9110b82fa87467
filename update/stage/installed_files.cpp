#include "update/stage/installed_files.h"

#include "launcher/run_log.h"
#include "update/stage/record_text.h"
#include "update/unpack/launcher_records.h"
#include "update/unpack/unpack_paths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

namespace {

constexpr char installedFilesHeader[] = "launcher-installed-files 1";

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

} // namespace

std::string sha256Label(const std::string& hex) {
    return "sha256:" + hex;
}

std::string crc32Label(std::uint32_t crc) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", crc);
    return std::string("crc32:") + text;
}

std::vector<std::string> pathComponents(const std::string& path) {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = path.find('/', start);
        components.push_back(path.substr(start, end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return components;
}

std::vector<std::string> installedFileFields(const InstalledFile& file) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(file.mode));
    return {file.path,
            std::to_string(file.size),
            std::to_string(file.modifiedNs),
            std::to_string(file.inode),
            mode,
            file.hash};
}

std::optional<InstalledFile> installedFileFromFields(const std::vector<std::string>& fields,
                                                     std::size_t first) {
    if (fields.size() != first + installedFileFieldCount) {
        return std::nullopt;
    }
    const auto size = numberField(fields[first + 1]);
    const auto modified = signedNumberField(fields[first + 2]);
    const auto inode = numberField(fields[first + 3]);
    const auto mode = numberField(fields[first + 4], 8);
    const std::string& path = fields[first];
    const std::string& hash = fields[first + 5];
    const bool hashKnown = hash.starts_with("sha256:") || hash.starts_with("crc32:");
    if (!size || !modified || !inode || !mode || path.empty() || !hashKnown) {
        return std::nullopt;
    }
    for (const std::string& component : pathComponents(path)) {
        if (component.empty() || component == "." || component == "..") {
            return std::nullopt;
        }
    }
    return InstalledFile{path, *size, *modified, *inode, static_cast<mode_t>(*mode), hash};
}

std::optional<InstalledFiles> readInstalledFiles(int dataFolder) {
    std::string problem;
    const auto text = readRegularFile(dataFolder, installedFilesName, &problem);
    if (!text && errno == ENOENT) {
        return std::nullopt; // an install made before the record
    }
    auto body = text ? recordBody(*text, installedFilesHeader, problem) : std::nullopt;
    InstalledFiles files;
    for (std::size_t line = 0; body && line < body->size(); ++line) {
        const auto file = installedFileFromFields((*body)[line], 0);
        if (!file) {
            problem = bodyLineProblem(line, "it does not describe an installed file");
            body.reset();
            break;
        }
        files[file->path] = *file;
    }
    if (!body) {
        writeToLog(std::string("The record of installed files ") + installedFilesName +
                   " cannot be read (" + problem +
                   "): nothing is removed and every installed file is hashed");
        return std::nullopt;
    }
    return files;
}

std::string installedFilesText(const InstalledFiles& files) {
    std::string text = std::string(installedFilesHeader) + "\n";
    for (const auto& [path, file] : files) {
        text += recordLine(installedFileFields(file));
    }
    return text + "end\n";
}

bool writeInstalledFiles(int dataFolder, const InstalledFiles& files) {
    return writeRecordDurably(dataFolder, installedFilesName, installedFilesPartialName,
                              installedFilesText(files));
}

std::optional<InstalledFile> describeInstalledFile(int root, const std::string& path,
                                                   const std::string& hash) {
    const std::vector<std::string> components = pathComponents(path);
    const Descriptor folder = openExistingFolder(root, components, components.size() - 1);
    struct stat status {};
    if (!folder.valid() ||
        fstatat(folder.fd, components.back().c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISDIR(status.st_mode)) {
        return std::nullopt;
    }
    return InstalledFile{path,
                         static_cast<std::uint64_t>(status.st_size),
                         nanoseconds(status.st_mtim),
                         static_cast<std::uint64_t>(status.st_ino),
                         status.st_mode,
                         hash};
}

bool stillAsInstalled(int root, const InstalledFile& recorded) {
    const auto now = describeInstalledFile(root, recorded.path, recorded.hash);
    return now && now->size == recorded.size && now->modifiedNs == recorded.modifiedNs &&
           now->inode == recorded.inode && now->mode == recorded.mode;
}

bool recordedWithOtherSha256(const InstalledFiles* recorded, int root, const std::string& path,
                             const std::string& sha256) {
    if (recorded == nullptr || sha256.empty()) {
        return false;
    }
    const auto found = recorded->find(path);
    return found != recorded->end() && found->second.hash.starts_with("sha256:") &&
           found->second.hash != sha256Label(sha256) && stillAsInstalled(root, found->second);
}
