#include "update/whole_archive_install.h"

#include "launcher/run_log.h"
#include "platform/path_component.h"
#include "update/download_and_launch.h"
#include "update/http/file_download.h"
#include "update/release_commit.h"
#include "update/stage/room_check.h"
#include "update/stage/staged_commit.h"
#include "update/stage/staging_area.h"
#include "update/unpack/archive_open.h"
#include "update/unpack/entry_spans.h"
#include "update/unpack/launcher_records.h"
#include "update/unpack/zip_extract.h"
#include "update/unzip_progress.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>

namespace {

// Removes the archive and whatever was staged from it, on every road out.
struct ArchiveCleanup {
    const std::string& archivePath;
    int dataRoot;
    bool keepStaged = false;
    ~ArchiveCleanup() {
        if (std::remove(archivePath.c_str()) != 0 && errno != ENOENT) {
            writeToLog("Error deleting zip file");
        }
        if (!keepStaged) {
            discardStaging(dataRoot);
        }
    }
};

// The downloaded archive, opened and bounded as the unpacker opens it; none after its line.
ArchiveHandle openDownloaded(const std::string& archivePath, std::uint64_t archiveBytes) {
    ArchiveHandle archive = openArchiveFile(archivePath);
    if (archive && !entriesFitInArchive(archive.get(), archiveBytes, archivePath)) {
        return nullptr;
    }
    return archive;
}

// What the archive's entries take once unpacked, by their declared sizes.
std::uint64_t unpackedBytes(zip_t* archive) {
    std::uint64_t bytes = 0;
    const zip_int64_t total = zip_get_num_entries(archive, 0);
    for (zip_int64_t index = 0; index < total; ++index) {
        zip_stat_t status;
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &status) == 0 &&
            (status.valid & ZIP_STAT_SIZE) != 0) {
            bytes += bytesOnDisk(status.size);
        }
    }
    return bytes;
}

// Unpacks the downloaded archive into the staging folder and builds its commit: every entry is
// staged, the record of installed files says what the release dropped.
bool stageArchive(const std::string& archivePath, const std::string& folder, int dataRoot,
                  const std::string& versionText, CommitJournal& journal) {
    std::error_code sizeError;
    const std::uintmax_t downloaded = std::filesystem::file_size(archivePath, sizeError);
    const ArchiveHandle archive = openDownloaded(archivePath, sizeError ? 0 : downloaded);
    if (!archive) {
        finishUnzipProgress(false);
        writeToLog("failed to unzip file");
        return false;
    }
    const std::uint64_t archiveBytes = bytesOnDisk(downloaded);
    if (!roomForUpdate(folder, archiveBytes + unpackedBytes(archive.get()), archiveBytes)) {
        return false;
    }
    const std::string stagingTree = withTrailingSlash(folder) + stagingFolderName + "/tree";
    const bool unpacked = openStagingTree(dataRoot, "whole archive\n").valid() &&
                          unzipArchive(archivePath, stagingTree, unzipProgressHandler);
    const auto entries = unpacked ? describeEntries(archive.get(), archivePath) : std::nullopt;
    if (!entries) {
        finishUnzipProgress(false);
        writeToLog("failed to unzip file");
        return false;
    }
    const auto recorded = readInstalledFiles(dataRoot);
    journal = releaseJournal(archive.get(), entriesToPlan(archive.get(), *entries, {}),
                             recorded ? &*recorded : nullptr, versionText);
    return true;
}

// The size the first place that announces one gives: every place serves the same bytes.
std::optional<std::uint64_t> announcedSize(const std::vector<std::string>& places,
                                           const TransferSettings& transfer) {
    for (const std::string& place : places) {
        if (const auto size = remoteFileSize(place, transfer)) {
            return size;
        }
    }
    return std::nullopt;
}

// Why the download from a place failed; empty when the archive came. Only a 2xx answer brings
// the archive: an error page or a redirect's page is no place's archive.
std::string placeFailure(bool downloaded, const DownloadAnswer& answer) {
    if (answer.httpStatus != 0 && (answer.httpStatus < 200 || answer.httpStatus > 299)) {
        return "the server answered with HTTP status " + std::to_string(answer.httpStatus);
    }
    return downloaded ? "" : answer.failure;
}

// The archive from the first place that gives it. The last place's download is taken as it
// comes, so that a lone URL's run log and result stay what they always were (an error page is
// refused by the unpack).
bool downloadFromPlaces(const std::vector<std::string>& places, const std::string& archivePath,
                        const std::optional<std::string>& requiredSha256,
                        const TransferSettings& transfer) {
    for (std::size_t at = 0; at + 1 < places.size(); ++at) {
        DownloadAnswer answer;
        const bool downloaded =
            downloadChecked(places[at], archivePath, requiredSha256, transfer, &answer);
        const std::string why = placeFailure(downloaded, answer);
        if (why.empty()) {
            return true;
        }
        writeToLog("whole-archive download from " + places[at] + " failed: " + why + "; trying " +
                   places[at + 1]);
    }
    return downloadChecked(places.back(), archivePath, requiredSha256, transfer);
}

} // namespace

bool installContentWholeArchive(const std::vector<std::string>& places, const std::string& folder,
                                const std::string& archiveName, const std::string& executableName,
                                const std::optional<std::string>& requiredSha256,
                                const TransferSettings& transfer, const std::string& versionText) {
    if (places.empty()) {
        writeToLog("no place to download the content archive from");
        return false;
    }
    logInstallStart(places.front(), folder, archiveName, executableName);
    const std::string folderText = withTrailingSlash(folder);
    if (!namesStayIn(folderText, archiveName, executableName)) {
        return false;
    }
    const auto archiveSize = announcedSize(places, transfer);
    if (archiveSize && !roomForUpdate(folder, bytesOnDisk(*archiveSize))) {
        return false;
    }
    const Descriptor root(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::string archivePath = folderText + archiveName;
    ArchiveCleanup cleanup{archivePath, root.fd};
    // Staged files of an entry-wise attempt are of no use here: every entry is unpacked anew.
    discardStaging(root.fd);
    CommitJournal journal;
    if (!downloadFromPlaces(places, archivePath, requiredSha256, transfer) ||
        !stageArchive(archivePath, folder, root.fd, versionText, journal)) {
        return false;
    }
    cleanup.keepStaged = true;
    std::remove(archivePath.c_str());
    const bool committed = commitStagedRelease(folder, journal, executableName);
    finishUnzipProgress(committed);
    return committed;
}
