#include "update/unpack/unpack_paths.h"

#include "launcher/run_log.h"
#include "update/unpack/launcher_records.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <system_error>

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct DirectoryCloser {
    void operator()(DIR* directory) const { closedir(directory); }
};

// A folder's entries split into sub-folders and everything else; links count as everything else
// whatever they point to.
struct FolderListing {
    std::vector<std::string> folders;
    std::vector<std::string> others;
};

FolderListing listFolder(int folder) {
    FolderListing listing;
    const int copy = fcntl(folder, F_DUPFD_CLOEXEC, 0);
    std::unique_ptr<DIR, DirectoryCloser> directory(copy >= 0 ? fdopendir(copy) : nullptr);
    if (!directory) {
        if (copy >= 0) {
            ::close(copy);
        }
        return listing;
    }
    rewinddir(directory.get());
    while (const dirent* entry = readdir(directory.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat status {};
            isFolder = fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(status.st_mode);
        }
        (isFolder ? listing.folders : listing.others).push_back(name);
    }
    return listing;
}

using VisitFolder = std::function<void(int folder, const std::vector<std::string>& others)>;
using LeaveFolder = std::function<void(int parent, const std::string& name)>;

// Walks the folders below start depth first, never through a link, with no more than two
// descriptors open whatever the depth: an archive can nest folders far deeper than a process may
// hold descriptors. visit sees each folder (start included) with its non-folder entries before
// its sub-folders are walked; leave is called from the parent once a sub-folder is done. The way
// back up goes through "..", checked against the folder that was left, so a folder moved away
// meanwhile ends the walk instead of leading elsewhere. False when the walk ended early.
bool walkFolders(int start, const VisitFolder& visit, const LeaveFolder& leave) {
    struct Level {
        std::vector<std::string> pending;
        dev_t device;
        ino_t inode;
        std::string name;
    };
    Descriptor current(fcntl(start, F_DUPFD_CLOEXEC, 0));
    std::vector<Level> levels;
    auto enter = [&](std::string name) {
        struct stat status {};
        if (!current.valid() || fstat(current.fd, &status) != 0) {
            return false;
        }
        FolderListing listing = listFolder(current.fd);
        visit(current.fd, listing.others);
        levels.push_back(
            {std::move(listing.folders), status.st_dev, status.st_ino, std::move(name)});
        return true;
    };
    if (!enter({})) {
        return false;
    }
    while (levels.size() > 1 || !levels.back().pending.empty()) {
        Level& level = levels.back();
        if (!level.pending.empty()) {
            std::string name = std::move(level.pending.back());
            level.pending.pop_back();
            Descriptor next(openat(current.fd, name.c_str(), folderFlags));
            if (!next.valid()) {
                continue; // gone or replaced meanwhile: nothing of ours to walk there
            }
            current = std::move(next);
            if (!enter(std::move(name))) {
                return false;
            }
            continue;
        }
        const std::string name = std::move(level.name);
        levels.pop_back();
        Descriptor parent(openat(current.fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat status {};
        if (!parent.valid() || fstat(parent.fd, &status) != 0 ||
            status.st_dev != levels.back().device || status.st_ino != levels.back().inode) {
            return false;
        }
        current = std::move(parent);
        leave(current.fd, name);
    }
    return true;
}

// Removes the folder name in parent with everything in it; links inside are removed, never
// followed.
bool removeFolderTree(int parent, const std::string& name) {
    const Descriptor top(openat(parent, name.c_str(), folderFlags));
    if (!top.valid()) {
        return false;
    }
    const auto removeOthers = [](int folder, const std::vector<std::string>& others) {
        // A folder an archive stored without write permission still has to empty.
        struct stat status {};
        if (fstat(folder, &status) == 0 && (status.st_mode & S_IRWXU) != S_IRWXU) {
            fchmod(folder, (status.st_mode & 07777) | S_IRWXU);
        }
        for (const std::string& other : others) {
            unlinkat(folder, other.c_str(), 0);
        }
    };
    const auto removeFolder = [](int folder, const std::string& sub) {
        unlinkat(folder, sub.c_str(), AT_REMOVEDIR);
    };
    walkFolders(top.fd, removeOthers, removeFolder);
    return unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

// Another user able to write into a game folder could change what the game runs.
Problem clearSharedWriteBits(int folder, const std::string& shown) {
    struct stat status {};
    if (fstat(folder, &status) != 0) {
        return errorText("cannot examine the folder " + shown);
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
        return {};
    }
    if (fchmod(folder, status.st_mode & 0755) != 0) {
        return errorText("cannot clear the shared write permission of the folder " + shown);
    }
    return {};
}

// Something other than a folder stands where one belongs. What an earlier install left (a
// file, a link) makes way; a link of this very archive would mean writing through it, refused.
Problem replaceWithFolder(int folder, const std::string& name, const std::string& shown,
                          const MadeLinks& madeLinks) {
    const int openError = errno;
    struct stat status {};
    const bool found = fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    if (!found && errno != ENOENT) {
        errno = openError;
        return errorText("cannot open the folder " + shown);
    }
    if (!found || S_ISDIR(status.st_mode)) {
        return {}; // another writer replaced it meanwhile: the caller tries again
    }
    if (S_ISLNK(status.st_mode) && madeLinks.contains(shown)) {
        return "it would be written through the link " + shown;
    }
    // Gone or a folder already: another writer replaced it meanwhile.
    if (unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT && errno != EISDIR) {
        return errorText("cannot remove " + shown + ", which stands where a folder belongs");
    }
    if (mkdirat(folder, name.c_str(), 0755) != 0 && errno != EEXIST) {
        return errorText("cannot create the folder " + shown);
    }
    return {};
}

} // namespace

std::string errorText(const std::string& what) {
    return what + ": " + std::error_code(errno, std::generic_category()).message();
}

std::string joined(const std::vector<std::string>& components, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) {
        path += (i == 0 ? "" : "/") + components[i];
    }
    return path;
}

namespace {

// The folder name in current, made or replaced when needed. Several writers may fill one tree at
// once: what another makes or removes meanwhile is met by trying again.
Descriptor folderIn(int current, const char* name, const std::string& shown,
                    const MadeLinks& madeLinks, Problem& problem) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        Descriptor next(openat(current, name, folderFlags));
        if (next.valid()) {
            return next;
        }
        if (errno == ENOTDIR || errno == ELOOP) {
            problem = replaceWithFolder(current, name, shown, madeLinks);
        } else if (errno == ENOENT) {
            if (mkdirat(current, name, 0755) != 0 && errno != EEXIST) {
                problem = errorText("cannot create the folder " + shown);
            }
        } else {
            problem = errorText("cannot open the folder " + shown);
        }
        if (!problem.empty()) {
            return {};
        }
    }
    Descriptor last(openat(current, name, folderFlags));
    if (!last.valid()) {
        problem = errorText("cannot open the folder " + shown);
    }
    return last;
}

} // namespace

Descriptor openFolder(int root, const std::vector<std::string>& components, std::size_t count,
                      const MadeLinks& madeLinks, Problem& problem) {
    Descriptor current(fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!current.valid()) {
        problem = errorText("cannot open the destination");
        return {};
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::string shown = joined(components, i + 1);
        Descriptor next = folderIn(current.fd, components[i].c_str(), shown, madeLinks, problem);
        if (!next.valid()) {
            return {};
        }
        problem = clearSharedWriteBits(next.fd, shown);
        if (!problem.empty()) {
            return {};
        }
        current = std::move(next);
    }
    return current;
}

Descriptor openExistingFolder(int root, const std::vector<std::string>& components,
                              std::size_t count) {
    Descriptor current(fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (std::size_t i = 0; i < count && current.valid(); ++i) {
        current = Descriptor(openat(current.fd, components[i].c_str(), folderFlags));
    }
    return current;
}

Problem moveInPlace(int fromFolder, const std::string& from, int toFolder,
                    const std::string& leaf) {
    if (renameat(fromFolder, from.c_str(), toFolder, leaf.c_str()) == 0) {
        return {};
    }
    if (errno != EISDIR && errno != ENOTEMPTY && errno != EEXIST) {
        return errorText("cannot put it in place");
    }
    if (!removeFolderTree(toFolder, leaf)) {
        return errorText("cannot remove the folder that stands in its place");
    }
    if (renameat(fromFolder, from.c_str(), toFolder, leaf.c_str()) != 0) {
        return errorText("cannot put it in place");
    }
    return {};
}

Problem putInPlace(int folder, const std::string& partial, const std::string& leaf) {
    return moveInPlace(folder, partial, folder, leaf);
}

bool removeFolderNamed(int parent, const std::string& name) {
    return removeFolderTree(parent, name);
}

std::size_t removeFilesNamed(int root, const std::function<bool(const std::string&)>& matches) {
    std::size_t removed = 0;
    const auto removeMatching = [&](int folder, const std::vector<std::string>& others) {
        for (const std::string& other : others) {
            if (matches(other) && unlinkat(folder, other.c_str(), 0) == 0) {
                ++removed;
            }
        }
    };
    walkFolders(root, removeMatching, [](int, const std::string&) {});
    return removed;
}

std::size_t removeLeftoverPartials(int root) {
    return removeFilesNamed(root, isUnpackPartialName);
}

Descriptor openUnpackDestination(const std::string& destination) {
    Descriptor root(open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid()) {
        writeToLog(errorText("unzip: cannot open the destination " + destination));
        return root;
    }
    const std::size_t leftovers = removeLeftoverPartials(root.fd);
    if (leftovers > 0) {
        writeToLog("unzip: removed " + std::to_string(leftovers) +
                   " unfinished files of an earlier unpack from " + destination);
    }
    return root;
}

std::vector<std::string> split(const std::string& text, const char* separators) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find_first_of(separators, start);
        pieces.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return pieces;
        }
        start = end + 1;
    }
}
