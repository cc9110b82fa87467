#include "update/download_and_launch.h"

#include "launcher/run_log.h"
#include "platform/app_support_folder.h"
#include "platform/application_launch.h"
#include "platform/file_presence.h"
#include "platform/path_component.h"
#include "update/http/file_download.h"
#include "update/release/sha256_stream.h"
#include "update/unpack/zip_extract.h"
#include "update/unzip_progress.h"

#include <cstdio>

namespace {

// A download that differs from its signed hash is never opened: it is deleted at once.
bool archiveMatches(const std::string& archivePath, const std::string& required,
                    const std::string& actual) {
    if (!actual.empty() && actual == required) {
        return true;
    }
    writeToLog("Archive refused, its SHA-256 differs from the manifest's: expected " +
               (required.empty() ? std::string("(none)") : required) + " got " + actual + " for " +
               archivePath);
    if (std::remove(archivePath.c_str()) != 0) {
        writeToLog("Error deleting zip file");
    }
    return false;
}

bool unpackAndDelete(const std::string& folder, const std::string& archivePath) {
    const bool unpacked = unzipArchive(archivePath, folder, unzipProgressHandler);
    finishUnzipProgress(unpacked);
    if (!unpacked) {
        writeToLog("failed to unzip file");
        return false;
    }
    if (std::remove(archivePath.c_str()) != 0) {
        writeToLog("Error deleting zip file");
    }
    return true;
}

} // namespace

// Both names are joined to folder: one that leads elsewhere would overwrite a file outside, or
// start whatever happens to lie there. Checked before anything is downloaded.
bool namesStayIn(const std::string& folder, const std::string& archiveName,
                 const std::string& executableName) {
    if (!isSingleFolderName(archiveName)) {
        writeToLog("refusing to download outside " + folder + ": " + folder + archiveName);
        return false;
    }
    if (!isSingleFolderName(executableName)) {
        writeToLog("refusing to start an application outside " + folder + ": " +
                   appendPathComponent(folder, executableName));
        return false;
    }
    return true;
}

bool downloadChecked(const std::string& url, const std::string& archivePath,
                     const std::optional<std::string>& requiredSha256,
                     const TransferSettings& transfer, DownloadAnswer* answer) {
    if (!requiredSha256) {
        return downloadToFile(url, archivePath, transfer, {}, answer);
    }
    Sha256Stream hash;
    const bool downloaded = downloadToFile(
        url, archivePath, transfer,
        [&hash](const char* data, std::size_t size) { hash.update(data, size); }, answer);
    if (!downloaded) {
        return false;
    }
    if (!archiveMatches(archivePath, *requiredSha256, hash.finishHex())) {
        if (answer != nullptr) {
            answer->failure = "its SHA-256 differs from the manifest's";
        }
        return false;
    }
    return true;
}

void logInstallStart(const std::string& url, const std::string& folder,
                     const std::string& archiveName, const std::string& executableName) {
    writeToLog("performToFileCurlAndExecute start - url:" + url + " downloadToFilePath:" +
               withTrailingSlash(folder) + " downloadToFileName:" + archiveName +
               " downloadedExecutableToRun:" + executableName);
}

bool installWholeArchive(const std::string& url, const std::string& folder,
                         const std::string& archiveName, const std::string& executableName,
                         const std::optional<std::string>& requiredSha256,
                         const TransferSettings& transfer) {
    logInstallStart(url, folder, archiveName, executableName);
    const std::string folderText = withTrailingSlash(folder);
    if (!namesStayIn(folderText, archiveName, executableName)) {
        return false;
    }
    const std::string archivePath = folderText + archiveName;
    return downloadChecked(url, archivePath, requiredSha256, transfer) &&
           unpackAndDelete(folderText, archivePath);
}

int launchUnpackedApplication(const std::string& folder, const std::string& executableName) {
    const std::string appPath = appendPathComponent(folder, executableName);
    if (!fileExistsAtPath(appPath)) {
        writeToLog("app executable not found after unzipping! appExecutableNS: " + appPath);
        return 1;
    }
    if (launchApplication(appPath) != 0) {
        writeToLog("failed to start app: " + appPath);
        return 1;
    }
    return 0;
}

int performToFileCurlAndExecute(const std::string& url, const std::string& downloadToFilePath,
                                const std::string& downloadToFileName,
                                const std::string& downloadedExecutableToRun,
                                const std::optional<std::string>& requiredSha256,
                                const TransferSettings& transfer) {
    if (!installWholeArchive(url, downloadToFilePath, downloadToFileName, downloadedExecutableToRun,
                             requiredSha256, transfer)) {
        return 1;
    }
    return launchUnpackedApplication(downloadToFilePath, downloadedExecutableToRun);
}
