#include "relocation/freedesktop_trash.h"

#include "platform/standard_folders.h"
#include "relocation/mount_table.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// More same-named items than this in one trash means something else is wrong.
constexpr int maxNameAttempts = 1000;

struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

std::optional<fs::path> trashFolderFor(const fs::path& item) {
    const std::string dataHome = userApplicationSupportFolder();
    if (dataHome.empty()) {
        return std::nullopt;
    }
    const fs::path homeTrash = fs::path(dataHome) / "Trash";
    const auto itemMount = mountHoldingPath(item.parent_path().string());
    const auto homeMount = mountHoldingPath(dataHome);
    if (!itemMount) {
        return std::nullopt;
    }
    // rename() works only within one mount, so the trash must be on the item's mount.
    if (homeMount && homeMount->id == itemMount->id) {
        return homeTrash;
    }
    return fs::path(itemMount->mountPoint) / (".Trash-" + std::to_string(getuid()));
}

bool prepareTrash(const fs::path& trash) {
    std::error_code error;
    fs::create_directories(trash / "files", error);
    if (error) {
        return false;
    }
    fs::create_directories(trash / "info", error);
    if (error) {
        return false;
    }
    fs::permissions(trash, fs::perms::owner_all, fs::perm_options::replace, error);
    return true;
}

std::string deletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Creating the record with O_EXCL reserves the name against another program trashing at once.
std::optional<std::string> reserveName(const fs::path& trash, const fs::path& item) {
    const std::string base = item.filename().string();
    const std::string record = "[Trash Info]\nPath=" + trashInfoPathValue(item.string()) +
                               "\nDeletionDate=" + deletionDate() + "\n";
    for (int attempt = 1; attempt <= maxNameAttempts; ++attempt) {
        const std::string name = attempt == 1 ? base : base + "." + std::to_string(attempt);
        const fs::path info = trash / "info" / (name + ".trashinfo");
        FileDescriptor file{open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
        if (file.fd < 0 && errno == EEXIST) {
            continue;
        }
        if (file.fd < 0) {
            return std::nullopt;
        }
        if (!writeAll(file.fd, record)) {
            std::remove(info.c_str());
            return std::nullopt;
        }
        return name;
    }
    return std::nullopt;
}

} // namespace

std::string trashInfoPathValue(const std::string& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string value;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || c == '/' || c == '-' || c == '_' ||
                           c == '.' || c == '~';
        if (plain) {
            value += c;
        } else {
            value += '%';
            value += hex[byte >> 4];
            value += hex[byte & 0xF];
        }
    }
    return value;
}

bool moveToTrash(const std::string& path) {
    std::error_code error;
    const fs::path item = fs::absolute(path, error).lexically_normal();
    if (error || item.filename().empty()) {
        return false;
    }
    const auto trash = trashFolderFor(item);
    if (!trash || !prepareTrash(*trash)) {
        return false;
    }
    const auto name = reserveName(*trash, item);
    if (!name) {
        return false;
    }
    if (std::rename(item.c_str(), (*trash / "files" / *name).c_str()) != 0) {
        std::remove((*trash / "info" / (*name + ".trashinfo")).c_str());
        return false;
    }
    return true;
}
