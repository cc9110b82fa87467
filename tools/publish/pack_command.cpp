// pack: an application bundle folder into the ZIP archive the launcher downloads and unpacks
// (the game content, or the launcher's own installer). Entries keep their Unix permissions,
// modification times and symbolic links, and come in a stable order.
#include "platform/property_list.h"
#include "tools/publish/archive_names.h"
#include "tools/publish/commands.h"
#include "tools/publish/options.h"
#include "tools/publish/pack_archive.h"
#include "tools/publish/patched_pack.h"
#include "update/release/release_index.h"
#include "update/release/sha256_stream.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const kHelp =
    "usage: launcher-publish pack <bundle.app> --output <archive.zip>\n"
    "                             [--patch-from <older.zip>]... [--patch-min-size <bytes>]\n"
    "\n"
    "Packs an application bundle folder into a ZIP archive with the bundle at its top\n"
    "level, as the launcher expects of both the game content archive and the launcher's\n"
    "installer archive. Unix permissions, modification times and symbolic links (stored as\n"
    "links, never followed) are kept; entries are sorted by name, so the same folder always\n"
    "gives the same order.\n"
    "\n"
    "The bundle must be named *.app and hold the executable the launcher starts:\n"
    "Contents/MacOS/<CFBundleExecutable of Contents/Info.plist>, or Contents/MacOS/<name>\n"
    "without it. Symbolic links that point outside the bundle, and special files, are\n"
    "refused, and so are names that the launcher would refuse as one file on a player's\n"
    "disk: names that differ only in letter case or Unicode normalization (a Mac's disk\n"
    "takes Level.bin and level.bin for one). The archive may not be written inside the\n"
    "bundle; an existing archive is replaced.\n"
    "\n"
    "Beside the bundle the archive carries ReleaseIndex.sha256: the SHA-256 of every file\n"
    "(\"<hex>  <name>\", as sha256sum writes it) and of every link's target text\n"
    "(\"<hex> @<name>\"), sorted by name. The launcher leaves it in its data folder as the\n"
    "record of what was installed.\n"
    "\n"
    "With --patch-from, every file of at least --patch-min-size bytes (1 MiB when not\n"
    "given) whose path an older archive holds with other content also travels as a zstd\n"
    "patch from the older file: a player who has that older file fetches about what changed\n"
    "instead of the whole file. Patches are stored entries of the folder .launcher-patches/,\n"
    "named by the SHA-256 of the older file and of the new one; the launcher never unpacks\n"
    "that folder. ReleaseIndex.sha256 lists them like any file, so a signed release covers\n"
    "them. A patch is kept only when it is smaller than half of the file's own compressed\n"
    "entry. Give --patch-from once for each of the last few releases that players may still\n"
    "have; an older file that several of them share gets one patch. Files larger than 2 GiB\n"
    "always travel whole. The older files are unpacked beside the archive while the patches\n"
    "are made, so its folder needs room for the largest of them. An older archive that\n"
    "cannot be read stops the pack, and no archive is written.\n"
    "\n"
    "options:\n"
    "  --output FILE            the archive to write\n"
    "  --patch-from ARCHIVE     an older release to make patches from (may be repeated)\n"
    "  --patch-min-size BYTES   the smallest file that gets patches (default 1048576)\n"
    "  -h, --help               show this help\n";

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

fs::path withoutTrailingSeparator(fs::path path) {
    while (path.has_parent_path() && path.filename().empty()) {
        path = path.parent_path();
    }
    return path;
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

// The patch options on the command line; none (with problem set) when they make no sense.
std::optional<PatchOptions> patchOptionsOf(const ParsedArguments& parsed, std::string& problem) {
    PatchOptions options;
    const auto older = parsed.lists.find("--patch-from");
    if (older != parsed.lists.end()) {
        options.olderArchives = older->second;
    }
    if (!parsed.has("--patch-min-size")) {
        return options;
    }
    const std::string text = parsed.value("--patch-min-size");
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), options.minimumSize);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        problem = "--patch-min-size takes a number of bytes, not '" + text + "'";
        return std::nullopt;
    }
    if (options.olderArchives.empty()) {
        problem = "--patch-min-size needs --patch-from";
        return std::nullopt;
    }
    return options;
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

int runPack(const ParsedArguments& parsed) {
    std::string problem;
    if (parsed.positionals.size() != 1 || !parsed.has("--output")) {
        return reportError("pack", "give one bundle folder and --output (see --help)", kUsageError);
    }
    const fs::path bundle = withoutTrailingSeparator(parsed.positionals.front());
    const fs::path output = parsed.value("--output");
    const auto patchOptions = patchOptionsOf(parsed, problem);
    if (!patchOptions) {
        return reportError("pack", problem + " (see --help)", kUsageError);
    }
    if (!checkPaths(bundle, output, problem)) {
        return reportError("pack", problem, kFailure);
    }
    const std::string top = bundle.filename().string() + "/";
    struct stat topStatus;
    if (stat(bundle.c_str(), &topStatus) != 0) {
        return reportError("pack", "cannot read " + bundle.string(), kFailure);
    }
    std::vector<PackEntry> entries{{top, bundle, topStatus}};
    if (!collectEntries(bundle, top, entries, problem) ||
        !hasLaunchableExecutable(bundle, entries, problem)) {
        return reportError("pack", problem, kFailure);
    }
    std::sort(entries.begin(), entries.end(),
              [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; });
    if (!namesStayApart(entries, problem)) {
        return reportError("pack", problem, kFailure);
    }
    auto index = releaseIndexOf(entries, problem);
    const bool written =
        index &&
        (patchOptions->olderArchives.empty()
             ? writeArchive(output, entries, formatReleaseIndex(std::move(*index)), problem)
             : writePatchedArchive(output, entries, std::move(*index), *patchOptions, std::cout,
                                   problem));
    if (!written) {
        return reportError("pack", problem, kFailure);
    }
    std::cout << "packed " << entries.size() + 1 << " entries of " << bundle.string() << " into "
              << output.string() << "\n";
    return kSuccess;
}

} // namespace

const Command packCommand{
    {.valued = {"--output", "--patch-min-size"}, .repeated = {"--patch-from"}}, kHelp, runPack};
