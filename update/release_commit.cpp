#include "update/release_commit.h"

#include "update/install_plan.h"
#include "update/stage/dropped_files.h"
#include "update/stage/room_check.h"

CommitJournal releaseJournal(zip_t* archive, const std::vector<ZipEntry>& entries,
                             const std::vector<std::string>& hashes,
                             const std::vector<bool>& installed, const InstalledFiles* recorded,
                             const std::string& versionText) {
    CommitJournal journal;
    journal.versionText = versionText;
    ReleasePaths release;
    for (std::size_t position = 0; position < entries.size(); ++position) {
        const ZipEntry& entry = entries[position];
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
        journal.files.push_back(JournalFile{path, entryHashLabel(archive, entry, hashes[position]),
                                            !installed[position]});
        addReleaseFile(release, path);
    }
    if (recorded != nullptr) {
        journal.removals = droppedFiles(*recorded, release);
    }
    return journal;
}

std::uint64_t stagedBytes(const std::vector<ZipEntry>& entries, const std::vector<bool>& staged) {
    std::uint64_t bytes = 0;
    for (std::size_t position = 0; position < entries.size(); ++position) {
        if (staged[position] && entries[position].kind != EntryKind::Folder) {
            bytes += bytesOnDisk(entries[position].size);
        }
    }
    return bytes;
}
