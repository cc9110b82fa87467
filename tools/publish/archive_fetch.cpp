#include "tools/publish/archive_fetch.h"

#include "update/http/curl_session.h"
#include "update/http/range_reader.h"
#include "update/release/sha256_stream.h"

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// What one read asks of the range reader: the run streams on, so this is all that is held.
constexpr std::uint64_t pieceBytes = 64 * 1024;

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct WholeReceiver {
    Sha256Stream hash;
    std::FILE* file = nullptr;
    std::uint64_t size = 0;
};

std::size_t receiveWhole(char* data, std::size_t size, std::size_t count, void* user) {
    auto& receiver = *static_cast<WholeReceiver*>(user);
    const std::size_t n = size * count;
    if (receiver.file != nullptr && std::fwrite(data, 1, n, receiver.file) != n) {
        return 0;
    }
    receiver.hash.update(data, n);
    receiver.size += n;
    return n;
}

// A new file only: never written through a link or over something that stood there.
std::unique_ptr<std::FILE, FileClose> createFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    std::unique_ptr<std::FILE, FileClose> file(fdopen(fd, "wb"));
    if (!file) {
        close(fd);
    }
    return file;
}

} // namespace

RangedFetch fetchThroughRanges(const std::string& url) {
    RangedFetch fetch;
    RangeReader reader(url, TransferSettings{});
    const RangeReader::State opened = reader.open();
    if (opened != RangeReader::State::Ready) {
        fetch.rangesRefused = opened == RangeReader::State::Refused;
        fetch.failed = !fetch.rangesRefused;
        fetch.why = reader.reason();
        return fetch;
    }
    fetch.size = reader.size();
    fetch.validator = reader.seed().validator;
    reader.beginRun(fetch.size);
    Sha256Stream hash;
    std::vector<char> piece(pieceBytes);
    for (std::uint64_t offset = 0; offset < fetch.size;) {
        const std::int64_t got = reader.read(offset, piece.data(), pieceBytes);
        if (got <= 0) {
            fetch.failed = true;
            fetch.why = reader.reason().empty() ? "the server sent fewer bytes than it announced"
                                                : reader.reason();
            return fetch;
        }
        hash.update(piece.data(), static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
    }
    reader.endRun();
    fetch.sha256 = hash.finishHex();
    return fetch;
}

WholeFetch fetchWhole(const std::string& url, const std::string& keepAt) {
    WholeFetch fetch;
    const CurlSession session(TransferKind::Archive, TransferSettings{});
    CURL* easy = session.handle();
    std::unique_ptr<std::FILE, FileClose> file;
    if (!keepAt.empty()) {
        file = createFile(keepAt);
    }
    if (easy == nullptr || (!keepAt.empty() && !file)) {
        fetch.failed = true;
        fetch.why = easy == nullptr ? "cannot start libcurl" : "cannot create " + keepAt;
        return fetch;
    }
    WholeReceiver receiver;
    receiver.file = file.get();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receiveWhole);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &receiver);
    const CURLcode result = curl_easy_perform(easy);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &fetch.httpStatus);
    if (file && std::fflush(file.get()) != 0) {
        fetch.failed = true;
        fetch.why = "cannot write " + keepAt;
        return fetch;
    }
    if (result != CURLE_OK) {
        fetch.failed = true;
        fetch.why = curl_easy_strerror(result);
        return fetch;
    }
    fetch.size = receiver.size;
    fetch.sha256 = receiver.hash.finishHex();
    return fetch;
}
