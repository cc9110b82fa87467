#include "platform/durable_record.h"

#include "platform/file_descriptor.h"
#include "platform/write_all.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

std::optional<std::string> refused(std::string* problem, const std::string& why) {
    if (problem != nullptr) {
        *problem = why;
    }
    return std::nullopt;
}

std::string systemError(const std::string& what) {
    return what + ": " + std::error_code(errno, std::generic_category()).message();
}

} // namespace

bool writeRecordDurably(int folder, const std::string& name, const std::string& partialName,
                        std::string_view text) {
    unlinkat(folder, partialName.c_str(), 0);
    const Descriptor file(openat(folder, partialName.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    const bool written = file.valid() && writeAll(file.fd, text.data(), text.size()) &&
                         ::fsync(file.fd) == 0 &&
                         renameat(folder, partialName.c_str(), folder, name.c_str()) == 0;
    if (!written) {
        const int error = errno;
        unlinkat(folder, partialName.c_str(), 0);
        errno = error;
        return false;
    }
    // A file system that cannot sync a folder (EINVAL) keeps its entries as it keeps them.
    return ::fsync(folder) == 0 || errno == EINVAL;
}

std::optional<std::string> readRecord(int folder, const std::string& name, std::string* problem) {
    const Descriptor file(
        openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) {
        const int error = errno;
        refused(problem, systemError("cannot open it"));
        errno = error; // callers tell a missing record from one they cannot read
        return std::nullopt;
    }
    struct stat status {};
    if (fstat(file.fd, &status) != 0) {
        return refused(problem, systemError("cannot examine it"));
    }
    if (!S_ISREG(status.st_mode)) {
        return refused(problem, "it is not a regular file");
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
