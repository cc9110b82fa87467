#include "platform/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
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

namespace {

std::optional<std::string> refused(std::string* problem, const std::string& why) {
    const int error = errno;
    if (problem != nullptr) {
        *problem = why;
    }
    errno = error;
    return std::nullopt;
}

std::string systemError(const std::string& what) {
    return what + ": " + std::error_code(errno, std::generic_category()).message();
}

} // namespace

std::optional<std::string> readRegularFile(int folder, const std::string& name,
                                           std::string* problem) {
    const Descriptor file = openRegularFile(folder, name);
    if (!file.valid()) {
        return refused(problem, errno == EINVAL ? std::string("it is not a regular file")
                                                : systemError("cannot open it"));
    }
    std::string text;
    char chunk[64 * 1024];
    while (true) {
        const ssize_t got = ::read(file.fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return refused(problem, systemError("cannot read it"));
        }
        if (got == 0) {
            return text;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
}
