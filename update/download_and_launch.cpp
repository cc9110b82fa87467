#include "update/download_and_launch.h"

#include "launcher/run_log.h"
#include "platform/app_support_folder.h"
#include "platform/application_launch.h"
#include "platform/file_presence.h"
#include "platform/path_component.h"
#include "update/http/file_download.h"
#include "update/release/sha256_stream.h"
#include "update/unpack/zip_extract.h"

#include <cstdio>

std::atomic<std::int32_t> unzipProgressPercent{0};

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

int unpackAndLaunch(const std::string& folder, const std::string& archivePath,
                    const std::string& executableName) {
    if (!unzipArchive(archivePath, folder, unzipProgressHandler, unzipCompletionHandler)) {
        writeToLog("failed to unzip file");
        return 1;
    }
    if (std::remove(archivePath.c_str()) != 0) {
        writeToLog("Error deleting zip file");
    }
    return launchUnpackedApplication(folder, executableName);
}

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

} // namespace

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

void unzipProgressHandler(const std::string&, long long entryNumber, long long total) {
    if (total == 0) {
        return;
    }
    const double percent = static_cast<double>(entryNumber) / static_cast<double>(total) * 99.0;
    unzipProgressPercent.store(static_cast<std::int32_t>(percent), std::memory_order_relaxed);
}

void unzipCompletionHandler(const std::string&, bool succeeded) {
    if (succeeded) {
        unzipProgressPercent.store(100, std::memory_order_relaxed);
    }
}

int performToFileCurlAndExecute(const std::string& url, std::string& downloadToFilePath,
                                const std::string& downloadToFileName,
                                const std::string& downloadedExecutableToRun,
                                const std::optional<std::string>& requiredSha256) {
    if (!downloadToFilePath.empty() && downloadToFilePath.back() != '/') {
        downloadToFilePath += '/';
    }
    writeToLog("performToFileCurlAndExecute start - url:" + url + " downloadToFilePath:" +
               downloadToFilePath + " downloadToFileName:" + downloadToFileName +
               " downloadedExecutableToRun:" + downloadedExecutableToRun);
    const std::string archivePath = downloadToFilePath + downloadToFileName;
    if (!namesStayIn(downloadToFilePath, downloadToFileName, downloadedExecutableToRun)) {
        return 1;
    }
    Sha256Stream hash;
    const ReceivedBytes hashBytes = [&hash](const char* data, std::size_t size) {
        hash.update(data, size);
    };
    if (!downloadToFile(url, archivePath, requiredSha256 ? hashBytes : ReceivedBytes())) {
        return 1;
    }
    if (requiredSha256 && !archiveMatches(archivePath, *requiredSha256, hash.finishHex())) {
        return 1;
    }
    return unpackAndLaunch(downloadToFilePath, archivePath, downloadedExecutableToRun);
}
