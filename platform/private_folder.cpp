#include "platform/private_folder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// Opens path as a folder without following a link, so that what is checked (and changed) is
// the folder itself even if the name is swapped meanwhile. Empty problem on success.
std::string openOwnFolder(const std::string& path, Descriptor& folder, struct stat& status) {
    folder.fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder.fd < 0) {
        const int openError = errno;
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            return "it is a link";
        }
        return openError == ENOTDIR ? "it is not a folder" : std::strerror(openError);
    }
    if (::fstat(folder.fd, &status) != 0) {
        return std::strerror(errno);
    }
    if (status.st_uid != ::geteuid()) {
        return "it belongs to another user";
    }
    return {};
}

} // namespace

std::string secureOwnFolder(const std::string& path) {
    Descriptor folder;
    struct stat status {};
    if (std::string problem = openOwnFolder(path, folder, status); !problem.empty()) {
        return problem;
    }
    const mode_t writableByOthers = S_IWGRP | S_IWOTH;
    if ((status.st_mode & writableByOthers) != 0 &&
        ::fchmod(folder.fd, status.st_mode & 07777 & ~writableByOthers) != 0) {
        return std::strerror(errno);
    }
    return {};
}

std::string privateFolderProblem(const std::string& path) {
    Descriptor folder;
    struct stat status {};
    if (std::string problem = openOwnFolder(path, folder, status); !problem.empty()) {
        return problem;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        return "other users have access to it";
    }
    return {};
}

std::string makePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::strerror(errno);
    }
    return privateFolderProblem(path);
}
