#include "platform/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

Descriptor openRegularFile(int folder, const std::string& name) {
    Descriptor file(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) {
        return {};
    }
    struct stat status {};
    if (fstat(file.fd, &status) != 0) {
        return {};
    }
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return {};
    }
    // O_NONBLOCK stays: reads of a regular file never wait on it.
    return file;
}
