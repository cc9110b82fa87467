#include "tests/support/file_modes.h"

#include <sys/stat.h>

mode_t permissionsOf(const std::filesystem::path& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return 0;
    }
    return status.st_mode & 07777;
}
