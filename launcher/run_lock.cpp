#include "launcher/run_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The lock lives as long as the process: its descriptor is never closed, and the system lets
// go of it when the process ends, however it ends.
int heldLock = -1;

std::string describe(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

} // namespace

RunLock takeRunLock(const std::string& folder, std::string& problem) {
    if (heldLock >= 0) {
        return RunLock::Taken;
    }
    const std::string path = folder + "/launcher.lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                        S_IRUSR | S_IWUSR);
    if (fd < 0) {
        problem = describe(path, errno);
        return RunLock::Unavailable;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        problem = path + ": not a regular file";
        return RunLock::Unavailable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) {
            return RunLock::HeldElsewhere;
        }
        problem = describe(path, error);
        return RunLock::Unavailable;
    }
    heldLock = fd;
    return RunLock::Taken;
}
