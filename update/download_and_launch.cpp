#include "update/download_and_launch.h"

#include "launcher/run_log.h"
#include "platform/app_support_folder.h"
#include "platform/application_launch.h"
#include "platform/file_presence.h"
#include "platform/path_component.h"
#include "update/http/curl_session.h"
#include "update/release/sha256_stream.h"
#include "update/unpack/zip_extract.h"
#include "update/version_manifest.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

std::atomic<std::int32_t> unzipProgressPercent{0};

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

void setTransferOptions(CURL* curl, const std::string& url) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToFileCallback);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, transferProgressCallback);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "libcurl-agent/1.0");
    applyTransferBasics(curl);
    applyArchiveLimits(curl);
}

// A fresh file of our own at path. Whatever stands there is removed first, so that a planted link
// is never written through and a file someone else made (and may still hold open) is not reused;
// should anything take the name again before the open, the open fails instead.
FileHandle createArchiveFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    FileHandle file(::fdopen(fd, "wb"));
    if (!file) {
        ::close(fd);
    }
    return file;
}

// The archive file and, when the download is checked, the hash of what reached it.
struct HashedFile {
    std::FILE* file;
    Sha256Stream* hash;
};

std::size_t writeAndHashCallback(char* data, std::size_t size, std::size_t count, void* sink) {
    const auto& target = *static_cast<HashedFile*>(sink);
    const std::size_t written = writeToFileCallback(data, size, count, target.file);
    target.hash->update(data, written * size);
    return written;
}

// CURLE_OK only when every byte reached the file.
CURLcode transferInto(CURL* curl, FileHandle file, Sha256Stream* hash) {
    // Unbuffered, so that a full disk fails the very write libcurl asked for and ends the
    // transfer there, instead of surfacing only when the file is closed.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    HashedFile sink{file.get(), hash};
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, file.get());
    if (hash != nullptr) {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeAndHashCallback);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    }
    CURLcode result = curl_easy_perform(curl);
    if (std::fclose(file.release()) != 0 && result == CURLE_OK) {
        result = CURLE_WRITE_ERROR;
    }
    return result;
}

struct TransferOutcome {
    bool fileOpened = false;
    CURLcode result = CURLE_OK;
};

TransferOutcome transferToFile(const std::string& url, const std::string& archivePath,
                               Sha256Stream* hash) {
    const CurlSession session;
    CURL* curl = session.handle();
    if (curl == nullptr) {
        return {true, CURLE_FAILED_INIT};
    }
    setTransferOptions(curl, url);
    FileHandle file = createArchiveFile(archivePath);
    if (!file) {
        return {false, CURLE_OK};
    }
    return {true, transferInto(curl, std::move(file), hash)};
}

bool downloadArchive(const std::string& url, const std::string& archivePath, Sha256Stream* hash) {
    // The manifest fetch leaves its own 100 behind; this download has not moved yet.
    downloadProgressPercent.store(0, std::memory_order_relaxed);
    const TransferOutcome outcome = transferToFile(url, archivePath, hash);
    if (!outcome.fileOpened) {
        writeToLog("Failed to open file");
        return false;
    }
    if (outcome.result != CURLE_OK) {
        writeToLog(std::string("curl_easy_perform() failed: ") +
                   curl_easy_strerror(outcome.result));
        return false;
    }
    return true;
}

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

std::size_t writeToFileCallback(char* data, std::size_t size, std::size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<std::FILE*>(file));
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
    if (!downloadArchive(url, archivePath, requiredSha256 ? &hash : nullptr)) {
        return 1;
    }
    if (requiredSha256 && !archiveMatches(archivePath, *requiredSha256, hash.finishHex())) {
        return 1;
    }
    return unpackAndLaunch(downloadToFilePath, archivePath, downloadedExecutableToRun);
}
