#include "update/unpack/zip_extract.h"

#include "launcher/run_log.h"
#include "update/unpack/archive_open.h"
#include "update/unpack/entry_spans.h"
#include "update/unpack/unpack_paths.h"
#include "update/unpack/zip_entries.h"

#include <fcntl.h>
#include <filesystem>
#include <vector>
#include <zip.h>

namespace {

bool unpackAll(const std::string& archivePath, const std::string& destination,
               const UnzipProgressHandler& progress) {
    ArchiveHandle archive = openArchiveFile(archivePath);
    if (!archive) {
        return false;
    }
    std::error_code sizeError;
    const std::uintmax_t archiveBytes = std::filesystem::file_size(archivePath, sizeError);
    if (sizeError) {
        writeToLog("unzip: cannot open " + archivePath + ": " + sizeError.message());
        return false;
    }
    if (!entriesFitInArchive(archive.get(), archiveBytes, archivePath)) {
        return false;
    }
    const Descriptor root = openUnpackDestination(destination);
    if (!root.valid()) {
        return false;
    }
    const auto entries = describeEntries(archive.get(), archivePath);
    if (!entries) {
        return false;
    }
    std::vector<char> buffer(entryCopyBufferBytes);
    MadeLinks madeLinks;
    std::vector<const ZipEntry*> folders;
    const auto total = static_cast<long long>(entries->size());
    long long unpacked = 0; // not the entry's index: entries left out leave gaps
    for (const ZipEntry& entry : *entries) {
        const Problem problem = unpackEntry(archive.get(), entry, root.fd, buffer, madeLinks);
        if (!problem.empty()) {
            logEntryProblem(archivePath, entry.name, problem);
            return false;
        }
        if (entry.kind == EntryKind::Folder && !entry.components.empty()) {
            folders.push_back(&entry);
        }
        if (progress) {
            progress(entry.name, ++unpacked, total);
        }
    }
    const Problem problem = finishFolders(root.fd, std::move(folders));
    if (!problem.empty()) {
        writeToLog("unzip: " + archivePath + ": " + problem);
        return false;
    }
    return true;
}

} // namespace

bool unzipArchive(const std::string& archivePath, const std::string& destination,
                  const UnzipProgressHandler& progress) {
    try {
        return unpackAll(archivePath, destination, progress);
    } catch (const std::exception& error) {
        writeToLog("unzip: " + archivePath + ": " + error.what());
    }
    return false;
}
