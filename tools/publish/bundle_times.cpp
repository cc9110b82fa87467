#include "tools/publish/bundle_times.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

bool later(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// Calls visit with the path itself and, for a folder, everything below it, links not followed.
template <typename Visit> bool eachPath(const fs::path& top, Visit visit, std::string& problem) {
    std::error_code error;
    if (!visit(top)) {
        problem = top.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!fs::is_directory(fs::symlink_status(top, error))) {
        return true;
    }
    for (fs::recursive_directory_iterator it(top, error), end; !error && it != end;
         it.increment(error)) {
        if (!visit(it->path())) {
            problem = it->path().string() + ": " + std::strerror(errno);
            return false;
        }
    }
    if (error) {
        problem = "cannot read " + top.string() + ": " + error.message();
    }
    return !error;
}

} // namespace

bool stampBundleTimes(const fs::path& bundle, const std::vector<fs::path>& inputs,
                      std::string& problem) {
    timespec newest{0, 0};
    for (const fs::path& input : inputs) {
        const auto take = [&](const fs::path& path) {
            struct stat status {};
            if (lstat(path.c_str(), &status) != 0) {
                return false;
            }
            newest = later(status.st_mtim, newest) ? status.st_mtim : newest;
            return true;
        };
        if (!eachPath(input, take, problem)) {
            return false;
        }
    }
    const timespec times[2] = {{0, UTIME_OMIT}, newest};
    const auto stamp = [&](const fs::path& path) {
        return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
    };
    return eachPath(bundle, stamp, problem);
}
