#include "platform/private_folder.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Checks path without following a link; otherBits are the permission bits nobody but the
// owner may hold.
std::string folderProblem(const std::string& path, mode_t otherBits) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return std::strerror(errno);
    }
    if (S_ISLNK(status.st_mode)) {
        return "it is a link";
    }
    if (!S_ISDIR(status.st_mode)) {
        return "it is not a folder";
    }
    if (status.st_uid != ::geteuid()) {
        return "it belongs to another user";
    }
    if ((status.st_mode & otherBits) != 0) {
        return "other users have access to it";
    }
    return {};
}

} // namespace

std::string ownFolderProblem(const std::string& path) {
    return folderProblem(path, S_IWGRP | S_IWOTH);
}

std::string privateFolderProblem(const std::string& path) {
    return folderProblem(path, S_IRWXG | S_IRWXO);
}

std::string makePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::strerror(errno);
    }
    return privateFolderProblem(path);
}
