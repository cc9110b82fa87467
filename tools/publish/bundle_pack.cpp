#include "tools/publish/bundle_pack.h"

#include "platform/property_list.h"
#include "tools/publish/archive_names.h"
#include "tools/publish/pack_archive.h"
#include "update/release/release_index.h"
#include "update/release/sha256_stream.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

// A link may climb out of its own folder with leading "..", as far as the bundle's top, and
// then only descend. A ".." after a name could climb out through another link, so it is refused.
bool linkStaysInside(const fs::path& target, std::size_t depth) {
    if (target.empty() || target.is_absolute()) {
        return false;
    }
    bool descending = false;
    std::size_t climbs = 0;
    for (const auto& part : target) {
        if (part == "..") {
            if (descending) {
                return false;
            }
            ++climbs;
        } else if (part != "." && !part.empty()) {
            descending = true;
        }
    }
    return climbs <= depth;
}

fs::path withoutTrailingSeparator(fs::path path) {
    while (path.has_parent_path() && path.filename().empty()) {
        path = path.parent_path();
    }
    return path;
}

namespace {

std::size_t depthOf(const std::string& name) {
    return static_cast<std::size_t>(std::count(name.begin(), name.end(), '/'));
}

// Lists the bundle without following any link, checking each entry on the way.
bool collectEntries(const fs::path& folder, const std::string& prefix,
                    std::vector<PackEntry>& entries, std::string& problem) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path path = it->path();
        PackEntry entry{prefix + path.filename().string(), path, {}};
        if (lstat(path.c_str(), &entry.status) != 0) {
            problem = "cannot read " + path.string();
            return false;
        }
        if (S_ISDIR(entry.status.st_mode)) {
            entry.name += "/";
            entries.push_back(entry);
            if (!collectEntries(path, entry.name, entries, problem)) {
                return false;
            }
        } else if (S_ISLNK(entry.status.st_mode)) {
            const fs::path target = fs::read_symlink(path, error);
            if (error || !linkStaysInside(target, depthOf(prefix) - 1)) {
                problem = "the symbolic link " + path.string() + " points outside the bundle (" +
                          target.string() + ")";
                return false;
            }
            entries.push_back(entry);
        } else if (S_ISREG(entry.status.st_mode)) {
            if (access(path.c_str(), R_OK) != 0) {
                problem = "cannot read " + path.string();
                return false;
            }
            entries.push_back(entry);
        } else {
            problem = path.string() + " is neither a file, a folder nor a symbolic link";
            return false;
        }
    }
    if (error) {
        problem = "cannot list " + folder.string() + ": " + error.message();
        return false;
    }
    return true;
}

const PackEntry* findEntry(const std::vector<PackEntry>& entries, const std::string& name) {
    for (const auto& entry : entries) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

// The launcher starts Contents/MacOS/<CFBundleExecutable>, or Contents/MacOS/<bundle name>
// when Info.plist does not name one; the check is made on the listed entries so that no link
// is followed.
bool hasLaunchableExecutable(const fs::path& bundle, const std::vector<PackEntry>& entries,
                             std::string& problem) {
    const std::string top = bundle.filename().string() + "/";
    std::string executable = bundle.stem().string();
    const PackEntry* info = findEntry(entries, top + "Contents/Info.plist");
    if (info != nullptr && S_ISREG(info->status.st_mode)) {
        std::string ignored;
        const auto plist = loadPropertyListDictionary(info->source.string(), ignored);
        const std::string named =
            plist ? propertyListString(*plist, "CFBundleExecutable").value_or("") : "";
        if (!named.empty() && named.find('/') == std::string::npos) {
            executable = named;
        }
    }
    const PackEntry* found = findEntry(entries, top + "Contents/MacOS/" + executable);
    if (found != nullptr && S_ISREG(found->status.st_mode) &&
        (found->status.st_mode & S_IXUSR) != 0) {
        return true;
    }
    problem = "the launcher would find nothing to start in " + bundle.string() +
              ": Contents/MacOS/" + executable + " is not an executable file";
    return false;
}

bool isInside(const fs::path& path, const fs::path& folder) {
    const auto [end, unused] =
        std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

// Checks the command line's paths; on success bundle is the folder as named and output the
// archive's path.
bool checkPaths(const fs::path& bundle, const fs::path& output, std::string& problem) {
    std::error_code error;
    if (!fs::is_directory(bundle, error)) {
        problem = bundle.string() + " is not a folder";
        return false;
    }
    if (bundle.extension() != ".app") {
        problem = bundle.string() + " is not an application bundle: its name must end in .app";
        return false;
    }
    if (output.filename().empty() || fs::is_directory(output, error)) {
        problem = "--output " + output.string() + " must name a file, not a folder";
        return false;
    }
    const fs::path realBundle = fs::canonical(bundle, error);
    const fs::path realOutput = fs::weakly_canonical(fs::absolute(output), error);
    if (error) {
        problem = "cannot resolve " + output.string() + ": " + error.message();
        return false;
    }
    if (isInside(realOutput, realBundle)) {
        problem = "the archive " + output.string() + " would be written inside the bundle " +
                  bundle.string() + " that is being packed";
        return false;
    }
    return true;
}

// The index of what the archive holds, hashed from the very files and links being packed.
std::optional<std::vector<ReleaseIndexEntry>> releaseIndexOf(const std::vector<PackEntry>& entries,
                                                             std::string& problem) {
    std::vector<ReleaseIndexEntry> indexed;
    for (const auto& entry : entries) {
        if (S_ISDIR(entry.status.st_mode)) {
            continue;
        }
        if (S_ISLNK(entry.status.st_mode)) {
            indexed.push_back(
                {entry.name, sha256Hex(fs::read_symlink(entry.source).string()), true});
            continue;
        }
        const auto hash = sha256FileHex(entry.source.string());
        if (!hash) {
            problem = "cannot read " + entry.source.string();
            return std::nullopt;
        }
        indexed.push_back({entry.name, *hash, false});
    }
    return indexed;
}

// The launcher refuses an archive whose names would be one file on a player's disk; a bundle
// made on a disk that keeps letter case and normalization apart can hold such names.
bool namesStayApart(const std::vector<PackEntry>& entries, std::string& problem) {
    std::vector<std::string> names{releaseIndexName};
    for (const auto& entry : entries) {
        names.push_back(entry.name);
    }
    return archiveNamesStayApart(names, problem);
}

} // namespace

std::optional<std::size_t> packBundle(const fs::path& bundle, const fs::path& output,
                                      const PatchOptions& patches, std::ostream& report,
                                      std::string& problem) {
    if (!checkPaths(bundle, output, problem)) {
        return std::nullopt;
    }
    const std::string top = bundle.filename().string() + "/";
    struct stat topStatus;
    if (stat(bundle.c_str(), &topStatus) != 0) {
        problem = "cannot read " + bundle.string();
        return std::nullopt;
    }
    std::vector<PackEntry> entries{{top, bundle, topStatus}};
    if (!collectEntries(bundle, top, entries, problem) ||
        !hasLaunchableExecutable(bundle, entries, problem)) {
        return std::nullopt;
    }
    std::sort(entries.begin(), entries.end(),
              [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; });
    if (!namesStayApart(entries, problem)) {
        return std::nullopt;
    }
    auto index = releaseIndexOf(entries, problem);
    const bool written =
        index &&
        (patches.olderArchives.empty()
             ? writeArchive(output, entries, formatReleaseIndex(std::move(*index)), problem)
             : writePatchedArchive(output, entries, std::move(*index), patches, report, problem));
    if (!written) {
        return std::nullopt;
    }
    return entries.size() + 1;
}
