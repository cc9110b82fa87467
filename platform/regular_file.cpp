#include "platform/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::optional<std::string> readRegularFile(int folder, const std::string& name) {
    const Descriptor file = openRegularFile(folder, name);
    if (!file.valid()) {
        return std::nullopt;
    }
    std::string text;
    char chunk[64 * 1024];
    while (true) {
        const ssize_t got = ::read(file.fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return text;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
}
