#include "update/stage/dropped_files.h"

#include "update/unpack/unpack_paths.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// Removes the folders above path that are now empty and not the release's, deepest first.
void removeEmptiedFolders(int dataFolder, const std::vector<std::string>& components,
                          const ReleasePaths& release) {
    for (std::size_t depth = components.size() - 1; depth > 0; --depth) {
        if (release.folders.contains(joined(components, depth))) {
            return;
        }
        const Descriptor parent = openExistingFolder(dataFolder, components, depth - 1);
        // Fails on a folder that holds anything: then nothing above it is empty either.
        if (!parent.valid() ||
            unlinkat(parent.fd, components[depth - 1].c_str(), AT_REMOVEDIR) != 0) {
            return;
        }
    }
}

} // namespace

void addReleaseFolder(ReleasePaths& release, const std::string& path) {
    const std::vector<std::string> components = pathComponents(path);
    for (std::size_t depth = 1; depth <= components.size(); ++depth) {
        release.folders.insert(joined(components, depth));
    }
}

void addReleaseFile(ReleasePaths& release, const std::string& path) {
    release.files.insert(path);
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        addReleaseFolder(release, path.substr(0, slash));
    }
}

std::vector<InstalledFile> droppedFiles(const InstalledFiles& recorded,
                                        const ReleasePaths& release) {
    std::vector<InstalledFile> dropped;
    for (const auto& [path, file] : recorded) {
        if (!release.files.contains(path) && !release.folders.contains(path)) {
            dropped.push_back(file);
        }
    }
    return dropped;
}

std::size_t removeDroppedFiles(int dataFolder, const std::vector<InstalledFile>& dropped,
                               const ReleasePaths& release) {
    std::size_t removed = 0;
    for (const InstalledFile& file : dropped) {
        const std::vector<std::string> components = pathComponents(file.path);
        // A file the player replaced or changed since is the player's now.
        if (!release.files.contains(file.path) && stillAsInstalled(dataFolder, file)) {
            const Descriptor folder =
                openExistingFolder(dataFolder, components, components.size() - 1);
            if (folder.valid() && unlinkat(folder.fd, components.back().c_str(), 0) == 0) {
                ++removed;
            }
        }
        removeEmptiedFolders(dataFolder, components, release);
    }
    return removed;
}
