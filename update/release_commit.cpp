#include "update/release_commit.h"

#include "update/stage/dropped_files.h"
#include "update/stage/room_check.h"

CommitJournal releaseJournal(zip_t* archive, const std::vector<PlannedEntry>& entries,
                             const InstalledFiles* recorded, const std::string& versionText) {
    CommitJournal journal;
    journal.versionText = versionText;
    ReleasePaths release;
    for (const PlannedEntry& planned : entries) {
        const ZipEntry& entry = *planned.entry;
        const std::string path = joined(entry.components, entry.components.size());
        if (entry.kind == EntryKind::Folder) {
            if (!entry.components.empty()) {
                journal.folders.push_back(JournalFolder{
                    path, entry.permissions,
                    entry.modified ? std::optional<std::int64_t>(*entry.modified) : std::nullopt});
                addReleaseFolder(release, path);
            }
            continue;
        }
        journal.files.push_back(JournalFile{path,
                                            entryHashLabel(archive, entry, planned.requiredSha256),
                                            planned.source != EntrySource::Installed});
        addReleaseFile(release, path);
    }
    if (recorded != nullptr) {
        journal.removals = droppedFiles(*recorded, release);
    }
    return journal;
}

std::uint64_t stagedBytes(const std::vector<PlannedEntry>& entries) {
    std::uint64_t bytes = 0;
    for (const PlannedEntry& planned : entries) {
        const bool staged =
            planned.source == EntrySource::Fetched || planned.source == EntrySource::Patched;
        if (staged && planned.entry->kind != EntryKind::Folder) {
            bytes += bytesOnDisk(planned.entry->size);
        }
    }
    return bytes;
}
