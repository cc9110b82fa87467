#include "update/unpack/zip_entries.h"

#include "launcher/run_log.h"
#include "update/release/sha256_stream.h"
#include "update/unpack/entry_name_collisions.h"
#include "update/unpack/launcher_records.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

// A link's target is a path; anything longer than a path can be is not a link we make.
constexpr zip_uint64_t longestLinkTarget = 4096;

constexpr char sha256MismatchProblem[] = "its SHA-256 differs from the release index's";

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

// The entry's path below the destination; none when the name is absolute or climbs with "..".
// Backslashes count as separators for that check only, so that a name written by a Windows tool
// cannot climb either.
std::optional<std::vector<std::string>> entryComponents(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.front() == '\\') {
        return std::nullopt;
    }
    for (const std::string& piece : split(name, "/\\")) {
        if (piece == "..") {
            return std::nullopt;
        }
    }
    std::vector<std::string> components;
    for (std::string& piece : split(name, "/")) {
        if (!piece.empty() && piece != ".") {
            components.push_back(std::move(piece));
        }
    }
    return components;
}

// The Unix mode an archive recorded, or 0. p7zip keeps it in the same place but names another
// host system and marks it with 0x8000 instead.
mode_t storedMode(zip_uint8_t system, zip_uint32_t attributes) {
    const bool unixHost = system == ZIP_OPSYS_UNIX;
    const bool unixExtension = (attributes & 0x8000U) != 0;
    return unixHost || unixExtension ? static_cast<mode_t>(attributes >> 16) : 0;
}

EntryKind entryKind(const std::string& name, mode_t mode) {
    if (S_ISLNK(mode)) {
        return EntryKind::Link;
    }
    if (name.back() == '/' || S_ISDIR(mode)) {
        return EntryKind::Folder;
    }
    return EntryKind::File;
}

// Set-id and sticky bits are dropped: an archive from the network does not get to make set-id
// programs. So are the group and other write bits: another user of the machine must not be able
// to change what the game runs. Folders keep full rights for their owner, or the next update and
// the uninstaller could not change them.
mode_t entryPermissions(EntryKind kind, mode_t mode) {
    const mode_t permissions = mode & 0755;
    if (kind == EntryKind::Folder) {
        return permissions == 0 ? 0755 : (permissions | S_IRWXU);
    }
    return permissions == 0 ? 0644 : permissions;
}

// The launcher's own records beside the game, and the names the unpacker gives its unfinished
// files, are never an archive's to write.
Problem reservedNameProblem(const std::vector<std::string>& components) {
    if (!components.empty() && isLauncherRecordName(components.front())) {
        return components.front() + " is a record the launcher keeps in the destination";
    }
    for (const std::string& component : components) {
        if (isUnpackPartialName(component)) {
            return component + " is a name the unpacker keeps for unfinished files";
        }
    }
    return {};
}

// Entries are written under this name beside their own and then renamed into place: a failed
// entry never leaves a half-written file under its real name, a link already standing there is
// replaced instead of written through, and a running program's file is swapped, not rewritten.
std::string partialName(zip_uint64_t index) {
    return ".unzip-" + std::to_string(getpid()) + "-" + std::to_string(index) + ".partial";
}

Descriptor createPartial(int folder, const std::string& name, Problem& problem) {
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    Descriptor file(openat(folder, name.c_str(), flags, 0600));
    if (!file.valid() && errno == EEXIST && unlinkat(folder, name.c_str(), 0) == 0) {
        file = Descriptor(openat(folder, name.c_str(), flags, 0600));
    }
    if (!file.valid()) {
        problem = errorText("cannot create a file");
    }
    return file;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// libzip checks the entry's CRC and size as the last bytes are read, so a damaged entry fails
// here rather than landing on disk as if whole. With a required SHA-256 the bytes are hashed on
// their way to the file and checked once the last has passed.
Problem copyEntryData(zip_file_t* data, int fd, std::vector<char>& buffer,
                      const std::string& requiredSha256) {
    Sha256Stream hash;
    while (true) {
        const zip_int64_t read = zip_fread(data, buffer.data(), buffer.size());
        if (read < 0) {
            return std::string("cannot read it from the archive: ") + zip_file_strerror(data);
        }
        if (read == 0) {
            return requiredSha256.empty() || hash.finishHex() == requiredSha256
                       ? Problem{}
                       : Problem{sha256MismatchProblem};
        }
        if (!requiredSha256.empty()) {
            hash.update(buffer.data(), static_cast<std::size_t>(read));
        }
        if (!writeAll(fd, buffer.data(), static_cast<std::size_t>(read))) {
            return errorText("cannot write it");
        }
    }
}

timespec fileTime(const ZipEntry& entry) {
    return entry.modified ? timespec{*entry.modified, 0} : timespec{0, UTIME_OMIT};
}

Problem finishFile(Descriptor& file, const ZipEntry& entry) {
    const timespec times[2] = {fileTime(entry), fileTime(entry)};
    if (fchmod(file.fd, entry.permissions) != 0 || futimens(file.fd, times) != 0) {
        return errorText("cannot set its attributes");
    }
    const int fd = std::exchange(file.fd, -1);
    // A delayed write error (a full disk, a quota) shows only here.
    if (::close(fd) != 0) {
        return errorText("cannot write it");
    }
    return {};
}

Problem writeFileEntry(zip_t* archive, const ZipEntry& entry, int folder, std::vector<char>& buffer,
                       const std::string& requiredSha256) {
    EntryHandle data(zip_fopen_index(archive, entry.index, 0));
    if (!data) {
        return std::string("cannot open it in the archive: ") + zip_strerror(archive);
    }
    const std::string partial = partialName(entry.index);
    Problem problem;
    Descriptor file = createPartial(folder, partial, problem);
    if (!file.valid()) {
        return problem;
    }
    problem = copyEntryData(data.get(), file.fd, buffer, requiredSha256);
    if (problem.empty()) {
        problem = finishFile(file, entry);
    }
    if (problem.empty()) {
        problem = putInPlace(folder, partial, entry.components.back());
    }
    if (!problem.empty()) {
        file.reset();
        unlinkat(folder, partial.c_str(), 0);
    }
    return problem;
}

Problem readLinkTarget(zip_t* archive, const ZipEntry& entry, std::string& target) {
    if (entry.size >= longestLinkTarget) {
        return "its link target is too long";
    }
    EntryHandle data(zip_fopen_index(archive, entry.index, 0));
    if (!data) {
        return std::string("cannot open it in the archive: ") + zip_strerror(archive);
    }
    char chunk[longestLinkTarget];
    while (true) {
        const zip_int64_t read = zip_fread(data.get(), chunk, sizeof chunk);
        if (read < 0) {
            return std::string("cannot read it from the archive: ") + zip_file_strerror(data.get());
        }
        if (read == 0) {
            return {};
        }
        target.append(chunk, static_cast<std::size_t>(read));
        if (target.size() >= longestLinkTarget) {
            return "its link target is too long";
        }
    }
}

// A link must lead to a place inside the destination. ".." may only open the target: after a
// name it could climb back out through a link that the name turns out to be.
bool linkStaysInside(const ZipEntry& entry, const std::string& target) {
    if (target.empty() || target.front() == '/' || target.find('\0') != std::string::npos) {
        return false;
    }
    long depth = static_cast<long>(entry.components.size()) - 1;
    bool descended = false;
    for (const std::string& piece : split(target, "/")) {
        if (piece.empty() || piece == ".") {
            continue;
        }
        if (piece != "..") {
            descended = true;
            continue;
        }
        if (descended || --depth < 0) {
            return false;
        }
    }
    return true;
}

Problem writeLinkEntry(zip_t* archive, const ZipEntry& entry, int folder, MadeLinks& madeLinks,
                       const std::string& requiredSha256) {
    std::string target;
    Problem problem = readLinkTarget(archive, entry, target);
    if (!problem.empty()) {
        return problem;
    }
    if (!requiredSha256.empty() && sha256Hex(target) != requiredSha256) {
        return sha256MismatchProblem;
    }
    if (!linkStaysInside(entry, target)) {
        return "its link target '" + target + "' leads outside the destination";
    }
    const std::string partial = partialName(entry.index);
    const std::string& leaf = entry.components.back();
    unlinkat(folder, partial.c_str(), 0);
    if (symlinkat(target.c_str(), folder, partial.c_str()) != 0) {
        return errorText("cannot create the link");
    }
    problem = putInPlace(folder, partial, leaf);
    if (!problem.empty()) {
        unlinkat(folder, partial.c_str(), 0);
        return problem;
    }
    const timespec times[2] = {fileTime(entry), fileTime(entry)};
    utimensat(folder, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW);
    madeLinks.insert(joined(entry.components, entry.components.size()));
    return {};
}

std::optional<ZipEntry> describeEntry(zip_t* archive, zip_uint64_t index, Problem& problem) {
    const char* rawName = zip_get_name(archive, index, 0);
    zip_stat_t status;
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (rawName == nullptr || zip_stat_index(archive, index, 0, &status) != 0 ||
        zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0) {
        problem = std::string("cannot read the entry: ") + zip_strerror(archive);
        return std::nullopt;
    }
    ZipEntry entry;
    entry.index = index;
    entry.name = rawName;
    auto components = entryComponents(entry.name);
    if (!components) {
        problem = "its name leads outside the destination";
        return std::nullopt;
    }
    entry.components = std::move(*components);
    const mode_t mode = storedMode(system, attributes);
    entry.kind = entryKind(entry.name, mode);
    if (entry.components.empty() && entry.kind != EntryKind::Folder) {
        problem = "it has no name to unpack to";
        return std::nullopt;
    }
    problem = reservedNameProblem(entry.components);
    if (!problem.empty()) {
        return std::nullopt;
    }
    entry.permissions = entryPermissions(entry.kind, mode);
    if ((status.valid & ZIP_STAT_MTIME) != 0) {
        entry.modified = status.mtime;
    }
    entry.size = (status.valid & ZIP_STAT_SIZE) != 0 ? status.size : 0;
    return entry;
}

// Two entries that are one file on a Mac's disk would replace each other there; refused with
// one line naming both.
bool namesStayApart(const std::vector<ZipEntry>& entries, const std::string& archivePath) {
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const ZipEntry& entry : entries) {
        names.push_back(entry.name);
    }
    const auto collision = firstEntryNameCollision(names);
    if (!collision) {
        return true;
    }
    writeToLog("unzip: entries '" + names[collision->first] + "' and '" + names[collision->second] +
               "' of " + archivePath +
               " not unpacked: " + entryNameCollisionReason(names, *collision));
    return false;
}

} // namespace

Problem unpackEntry(zip_t* archive, const ZipEntry& entry, int root, std::vector<char>& buffer,
                    MadeLinks& madeLinks, const std::string& requiredSha256) {
    Problem problem;
    const std::size_t depth = entry.components.size();
    const std::size_t folderDepth = entry.kind == EntryKind::Folder ? depth : depth - 1;
    const Descriptor folder = openFolder(root, entry.components, folderDepth, madeLinks, problem);
    if (!folder.valid() || entry.kind == EntryKind::Folder) {
        return problem;
    }
    if (entry.kind == EntryKind::Link) {
        return writeLinkEntry(archive, entry, folder.fd, madeLinks, requiredSha256);
    }
    return writeFileEntry(archive, entry, folder.fd, buffer, requiredSha256);
}

Problem finishFolders(int root, std::vector<const ZipEntry*> folders) {
    std::sort(folders.begin(), folders.end(), [](const ZipEntry* a, const ZipEntry* b) {
        return a->components.size() > b->components.size();
    });
    for (const ZipEntry* entry : folders) {
        // A later entry of the archive may have put a file or a link in the folder's place.
        const Descriptor folder =
            openExistingFolder(root, entry->components, entry->components.size());
        if (!folder.valid()) {
            continue;
        }
        const timespec times[2] = {fileTime(*entry), fileTime(*entry)};
        if (fchmod(folder.fd, entry->permissions) != 0 || futimens(folder.fd, times) != 0) {
            return errorText("cannot set the attributes of " + entry->name);
        }
    }
    return {};
}

void logEntryProblem(const std::string& archivePath, const std::string& name,
                     const Problem& problem) {
    writeToLog("unzip: entry '" + name + "' of " + archivePath + " not unpacked: " + problem);
}

std::optional<std::vector<ZipEntry>> describeEntries(zip_t* archive,
                                                     const std::string& archivePath) {
    const zip_int64_t total = zip_get_num_entries(archive, 0);
    std::vector<ZipEntry> entries;
    entries.reserve(static_cast<std::size_t>(std::max<zip_int64_t>(total, 0)));
    for (zip_int64_t index = 0; index < total; ++index) {
        Problem problem;
        auto entry = describeEntry(archive, static_cast<zip_uint64_t>(index), problem);
        if (!entry) {
            const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(index), 0);
            logEntryProblem(archivePath, name != nullptr ? name : "#" + std::to_string(index),
                            problem);
            return std::nullopt;
        }
        // Patches are read from the archive when an update applies them, never unpacked.
        if (!entry->components.empty() && isPatchFolderName(entry->components.front())) {
            continue;
        }
        entries.push_back(std::move(*entry));
    }
    if (!namesStayApart(entries, archivePath)) {
        return std::nullopt;
    }
    return entries;
}
