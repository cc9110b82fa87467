#include "update/unpack/zip_entries.h"

#include "launcher/run_log.h"
#include "update/unpack/entry_name_collisions.h"
#include "update/unpack/launcher_records.h"

#include <algorithm>
#include <sys/stat.h>
#include <utility>

// Reading what an archive's central directory says of each entry, and refusing what may not be
// unpacked, before anything is written.

namespace {

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
    components.shrink_to_fit(); // kept for every entry of the archive
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
        if (isUnpackPartialName(component) || isResumablePartialName(component)) {
            return component + " is a name the unpacker keeps for unfinished files";
        }
    }
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
