#include "update/http/file_download.h"

#include "launcher/run_log.h"
#include "update/http/curl_session.h"
#include "update/http/transfer_progress.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

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

// The file and whoever watches the bytes that reached it.
struct WatchedFile {
    std::FILE* file;
    const ReceivedBytes* received;
};

std::size_t writeAndWatchCallback(char* data, std::size_t size, std::size_t count, void* sink) {
    const auto& target = *static_cast<WatchedFile*>(sink);
    const std::size_t written = writeToFileCallback(data, size, count, target.file);
    (*target.received)(data, written * size);
    return written;
}

// CURLE_OK only when every byte reached the file.
CURLcode transferInto(CURL* curl, FileHandle file, const ReceivedBytes& received) {
    // Unbuffered, so that a full disk fails the very write libcurl asked for and ends the
    // transfer there, instead of surfacing only when the file is closed.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    WatchedFile sink{file.get(), &received};
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToFileCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, file.get());
    if (received) {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeAndWatchCallback);
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
    long httpStatus = 0;
};

TransferOutcome transferToFile(const std::string& url, const std::string& path,
                               const TransferSettings& settings, const ReceivedBytes& received) {
    const CurlSession session(TransferKind::Archive, settings);
    CURL* curl = session.handle();
    if (curl == nullptr) {
        return {true, CURLE_FAILED_INIT};
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, transferProgressCallback);
    FileHandle file = createArchiveFile(path);
    if (!file) {
        return {false, CURLE_OK};
    }
    TransferOutcome outcome{true, transferInto(curl, std::move(file), received)};
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &outcome.httpStatus);
    return outcome;
}

} // namespace

bool downloadToFile(const std::string& url, const std::string& path,
                    const TransferSettings& settings, const ReceivedBytes& received,
                    DownloadAnswer* answer) {
    // The manifest fetch leaves its own 100 behind; this download has not moved yet.
    downloadProgressPercent.store(0, std::memory_order_relaxed);
    const TransferOutcome outcome = transferToFile(url, path, settings, received);
    DownloadAnswer given{outcome.httpStatus, ""};
    if (!outcome.fileOpened) {
        given.failure = "the archive file could not be opened";
        writeToLog("Failed to open file");
    } else if (outcome.result != CURLE_OK) {
        given.failure = curl_easy_strerror(outcome.result);
        writeToLog("curl_easy_perform() failed: " + given.failure);
    }
    const bool completed = given.failure.empty();
    if (answer != nullptr) {
        *answer = std::move(given);
    }
    return completed;
}

std::size_t writeToFileCallback(char* data, std::size_t size, std::size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<std::FILE*>(file));
}

std::optional<std::uint64_t> remoteFileSize(const std::string& url,
                                            const TransferSettings& settings) {
    const CurlSession session(TransferKind::Archive, settings);
    CURL* curl = session.handle();
    if (curl == nullptr) {
        return std::nullopt;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    long status = 0;
    curl_off_t length = -1;
    if (curl_easy_perform(curl) != CURLE_OK ||
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200 ||
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
        length < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(length);
}
