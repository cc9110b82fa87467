#include "platform/free_space.h"

#include <sys/statvfs.h>

std::optional<std::uint64_t> freeBytesAt(const std::string& path) {
    struct statvfs status {};
    if (statvfs(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    // f_bavail, not f_bfree: the blocks kept for the superuser are not the player's.
    return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}
