// pack: an application bundle folder into the ZIP archive the launcher downloads and unpacks
// (the game content, or the launcher's own installer). Entries keep their Unix permissions,
// modification times and symbolic links, and come in a stable order.
#include "platform/property_list.h"
#include "tools/publish/archive_names.h"
#include "tools/publish/commands.h"
#include "tools/publish/options.h"
#include "update/release/release_index.h"
#include "update/release/sha256_stream.h"

#include <algorithm>
#include <array>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

const char* const kHelp =
    "usage: launcher-publish pack <bundle.app> --output <archive.zip>\n"
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
    "options:\n"
    "  --output FILE   the archive to write\n"
    "  -h, --help      show this help\n";

struct Entry {
    std::string name; // inside the archive, "/"-separated, folders ending with "/"
    fs::path source;
    struct stat status;
};

struct ZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;

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
bool collectEntries(const fs::path& folder, const std::string& prefix, std::vector<Entry>& entries,
                    std::string& problem) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path path = it->path();
        Entry entry{prefix + path.filename().string(), path, {}};
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

const Entry* findEntry(const std::vector<Entry>& entries, const std::string& name) {
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
bool hasLaunchableExecutable(const fs::path& bundle, const std::vector<Entry>& entries,
                             std::string& problem) {
    const std::string top = bundle.filename().string() + "/";
    std::string executable = bundle.stem().string();
    const Entry* info = findEntry(entries, top + "Contents/Info.plist");
    if (info != nullptr && S_ISREG(info->status.st_mode)) {
        std::string ignored;
        const auto plist = loadPropertyListDictionary(info->source.string(), ignored);
        const std::string named =
            plist ? propertyListString(*plist, "CFBundleExecutable").value_or("") : "";
        if (!named.empty() && named.find('/') == std::string::npos) {
            executable = named;
        }
    }
    const Entry* found = findEntry(entries, top + "Contents/MacOS/" + executable);
    if (found != nullptr && S_ISREG(found->status.st_mode) &&
        (found->status.st_mode & S_IXUSR) != 0) {
        return true;
    }
    problem = "the launcher would find nothing to start in " + bundle.string() +
              ": Contents/MacOS/" + executable + " is not an executable file";
    return false;
}

// Info-ZIP's extended timestamp keeps the modification time to the second in UTC; the DOS
// time beside it has 2-second steps in local time.
void addExtendedTimestamp(zip_t* archive, zip_uint64_t index, time_t modified) {
    const auto seconds = static_cast<std::uint32_t>(modified);
    const std::array<zip_uint8_t, 5> data = {
        1, static_cast<zip_uint8_t>(seconds), static_cast<zip_uint8_t>(seconds >> 8),
        static_cast<zip_uint8_t>(seconds >> 16), static_cast<zip_uint8_t>(seconds >> 24)};
    zip_file_extra_field_set(archive, index, 0x5455, ZIP_EXTRA_FIELD_NEW, data.data(), data.size(),
                             ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
}

zip_int64_t addEntryData(zip_t* archive, const Entry& entry, std::deque<std::string>& linkTargets) {
    if (S_ISDIR(entry.status.st_mode)) {
        return zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_GUESS);
    }
    zip_source_t* source = nullptr;
    if (S_ISLNK(entry.status.st_mode)) {
        // The link is stored as its target text, as zip -y does; libzip reads the text at close.
        linkTargets.push_back(fs::read_symlink(entry.source).string());
        source =
            zip_source_buffer(archive, linkTargets.back().data(), linkTargets.back().size(), 0);
    } else {
        source = zip_source_file(archive, entry.source.c_str(), 0, -1);
    }
    if (source == nullptr) {
        return -1;
    }
    const zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_GUESS);
    if (index < 0) {
        zip_source_free(source);
        return -1;
    }
    if (S_ISLNK(entry.status.st_mode)) {
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    return index;
}

bool addEntry(zip_t* archive, const Entry& entry, std::deque<std::string>& linkTargets,
              std::string& problem) {
    const zip_int64_t added = addEntryData(archive, entry, linkTargets);
    if (added < 0) {
        problem = "cannot add " + entry.source.string() + ": " + zip_strerror(archive);
        return false;
    }
    const auto index = static_cast<zip_uint64_t>(added);
    // The high 16 bits hold the Unix mode (type and permissions); 0x10 is the DOS folder flag.
    const zip_uint32_t dosFolder = S_ISDIR(entry.status.st_mode) ? 0x10 : 0;
    const auto mode = static_cast<zip_uint32_t>(entry.status.st_mode & (S_IFMT | 07777));
    if (zip_file_set_external_attributes(archive, index, 0, ZIP_OPSYS_UNIX,
                                         (mode << 16) | dosFolder) != 0 ||
        zip_file_set_mtime(archive, index, entry.status.st_mtime, 0) != 0) {
        problem = "cannot set the attributes of " + entry.name + ": " + zip_strerror(archive);
        return false;
    }
    addExtendedTimestamp(archive, index, entry.status.st_mtime);
    return true;
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
std::optional<std::string> releaseIndexOf(const std::vector<Entry>& entries, std::string& problem) {
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
    return formatReleaseIndex(std::move(indexed));
}

bool addReleaseIndex(zip_t* archive, const std::string& index, time_t modified,
                     std::string& problem) {
    zip_source_t* source = zip_source_buffer(archive, index.data(), index.size(), 0);
    const zip_int64_t added =
        source == nullptr ? -1 : zip_file_add(archive, releaseIndexName, source, ZIP_FL_ENC_UTF_8);
    if (added < 0) {
        zip_source_free(source);
        problem = std::string("cannot add ") + releaseIndexName + ": " + zip_strerror(archive);
        return false;
    }
    const auto at = static_cast<zip_uint64_t>(added);
    const zip_uint32_t mode = S_IFREG | 0644;
    if (zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX, mode << 16) != 0 ||
        zip_file_set_mtime(archive, at, modified, 0) != 0) {
        problem = std::string("cannot set the attributes of ") + releaseIndexName;
        return false;
    }
    addExtendedTimestamp(archive, at, modified);
    return true;
}

bool writeArchive(const fs::path& output, const std::vector<Entry>& entries,
                  const std::string& index, std::string& problem) {
    int code = 0;
    ZipArchive archive(zip_open(output.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code));
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        problem = "cannot create " + output.string() + ": " + zip_error_strerror(&error);
        zip_error_fini(&error);
        return false;
    }
    std::deque<std::string> linkTargets; // must outlive zip_close, which reads the sources
    for (const auto& entry : entries) {
        if (!addEntry(archive.get(), entry, linkTargets, problem)) {
            return false;
        }
    }
    // Stamped like the bundle's top folder, so that packing the same folder twice gives the
    // same archive.
    if (!addReleaseIndex(archive.get(), index, entries.front().status.st_mtime, problem)) {
        return false;
    }
    if (zip_close(archive.get()) != 0) {
        problem = "cannot write " + output.string() + ": " + zip_strerror(archive.get());
        return false;
    }
    archive.release(); // zip_close freed it
    return true;
}

// The launcher refuses an archive whose names would be one file on a player's disk; a bundle
// made on a disk that keeps letter case and normalization apart can hold such names.
bool namesStayApart(const std::vector<Entry>& entries, std::string& problem) {
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
    if (!checkPaths(bundle, output, problem)) {
        return reportError("pack", problem, kFailure);
    }
    const std::string top = bundle.filename().string() + "/";
    struct stat topStatus;
    if (stat(bundle.c_str(), &topStatus) != 0) {
        return reportError("pack", "cannot read " + bundle.string(), kFailure);
    }
    std::vector<Entry> entries{{top, bundle, topStatus}};
    if (!collectEntries(bundle, top, entries, problem) ||
        !hasLaunchableExecutable(bundle, entries, problem)) {
        return reportError("pack", problem, kFailure);
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    if (!namesStayApart(entries, problem)) {
        return reportError("pack", problem, kFailure);
    }
    const auto index = releaseIndexOf(entries, problem);
    if (!index || !writeArchive(output, entries, *index, problem)) {
        return reportError("pack", problem, kFailure);
    }
    std::cout << "packed " << entries.size() + 1 << " entries of " << bundle.string() << " into "
              << output.string() << "\n";
    return kSuccess;
}

} // namespace

const Command packCommand{{.valued = {"--output"}}, kHelp, runPack};
