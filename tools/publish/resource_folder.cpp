#include "tools/publish/resource_folder.h"

#include "tools/publish/bundle_pack.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

std::size_t depthBelow(const fs::path& path, const fs::path& top) {
    const fs::path relative = path.lexically_relative(top).parent_path();
    return static_cast<std::size_t>(std::distance(relative.begin(), relative.end()));
}

bool isInside(const fs::path& path, const fs::path& folder) {
    const auto [end, unused] =
        std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

} // namespace

std::string resourceFolderProblem(const fs::path& folder, const fs::path& bundle) {
    std::error_code error;
    const fs::path realFolder = fs::canonical(folder, error);
    const fs::path realBundle = fs::weakly_canonical(fs::absolute(bundle), error);
    if (error) {
        return "cannot resolve --resource " + folder.string() + ": " + error.message();
    }
    if (isInside(realBundle, realFolder)) {
        return "--resource " + folder.string() + " holds the bundle being made, " + bundle.string();
    }
    // The iterator does not descend through links to folders.
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const fs::file_status status = it->symlink_status(error);
        if (fs::is_symlink(status)) {
            const fs::path target = fs::read_symlink(it->path(), error);
            if (error || !linkStaysInside(target, depthBelow(it->path(), folder))) {
                return "the symbolic link " + it->path().string() + " in --resource " +
                       folder.string() + " points outside it (" + target.string() + ")";
            }
        } else if (!fs::is_regular_file(status) && !fs::is_directory(status)) {
            return it->path().string() + " in --resource " + folder.string() +
                   " is neither a file, a folder nor a symbolic link";
        }
    }
    return error ? "cannot list --resource " + folder.string() + ": " + error.message() : "";
}

void copyResourceFolder(const fs::path& folder, const fs::path& resources) {
    const fs::path named = withoutTrailingSeparator(folder);
    fs::copy(named, resources / named.filename(),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}
