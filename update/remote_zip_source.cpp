#include "update/remote_zip_source.h"

#include "update/http/curl_session.h"
#include "update/http/transfer_progress.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <thread>

long rangeRetryBaseMilliseconds = 1000;

namespace {

// libzip looks for the end-of-archive record in the last 65577 bytes (the longest comment and
// the records), which it reads in one go: a tail that covers them serves that read from the cache
// and, for most releases, the whole central directory too.
constexpr std::uint64_t tailBytes = 64 * 1024 + 64;
// Reads outside a run fetch at least this much, so that parsing costs few round trips.
constexpr std::uint64_t blockBytes = 16 * 1024;
// Tries in a row that bring no new byte before a failed request ends the install.
constexpr int triesWithoutProgress = 5;

struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

struct Segment {
    std::uint64_t start = 0;
    std::string bytes;
};

} // namespace

struct RemoteArchive::Internals {
    RemoteArchive* owner = nullptr;
    std::string url;
    CurlSession session{TransferKind::Archive};
    std::unique_ptr<CURLM, MultiCleanup> multi{curl_multi_init()};
    bool attached = false;

    // The request in flight: bytes [requestStart, requestEnd) were asked for; received of them
    // have arrived, the ones not yet consumed are in pending from pendingStart on.
    std::uint64_t requestStart = 0;
    std::uint64_t requestEnd = 0;
    bool suffixRequest = false;
    bool requestDone = true;
    bool statusChecked = false;
    CURLcode result = CURLE_OK;
    std::string pending;
    std::size_t front = 0; // bytes of pending already consumed
    std::uint64_t pendingStart = 0;

    std::vector<Segment> cache;
    bool inRun = false;
    std::uint64_t runBudget = 0;
    std::uint64_t runEnd = 0;

    std::uint64_t position = 0;
    std::uint64_t fetched = 0;
    std::uint64_t expected = 0;
    zip_error_t error{};

    std::uint64_t pendingEnd() const { return pendingStart + pendingSize(); }
    std::size_t pendingSize() const { return pending.size() - front; }
    const char* pendingData() const { return pending.data() + front; }
    // The unconsumed bytes, moved out.
    std::string takePending() {
        std::string bytes = pending.substr(front);
        pending.clear();
        front = 0;
        return bytes;
    }
};

namespace {

using Internals = RemoteArchive::Internals;

// The start and total of a "Content-Range: bytes a-b/total" answer.
bool contentRange(CURL* easy, std::uint64_t& start, std::uint64_t& total) {
    curl_header* header = nullptr;
    if (curl_easy_header(easy, "Content-Range", 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return false;
    }
    std::uint64_t last = 0;
    return std::sscanf(header->value, "bytes %" SCNu64 "-%" SCNu64 "/%" SCNu64, &start, &last,
                       &total) == 3;
}

// Anything but a 206 that starts where it was asked to is a server that cannot serve ranges
// (or an error page, or a redirect that is not followed): the install takes the whole archive.
bool answerIsPartial(Internals& inner) {
    if (inner.statusChecked) {
        return true;
    }
    long status = 0;
    curl_easy_getinfo(inner.session.handle(), CURLINFO_RESPONSE_CODE, &status);
    std::uint64_t start = 0;
    std::uint64_t total = 0;
    if (status != 206 || !contentRange(inner.session.handle(), start, total)) {
        inner.owner->state = RemoteArchive::State::Refused;
        inner.owner->refusal = "the server answered a range request with status " +
                               std::to_string(status) + " instead of 206";
        return false;
    }
    if (inner.suffixRequest) {
        inner.requestStart = start;
        inner.requestEnd = total;
        inner.pendingStart = start;
    } else if (start != inner.requestStart) {
        inner.owner->state = RemoteArchive::State::Refused;
        inner.owner->refusal = "the server answered a range request with other bytes";
        return false;
    }
    inner.statusChecked = true;
    return true;
}

void reportProgress(const Internals& inner) {
    if (inner.expected == 0) {
        return;
    }
    const std::uint64_t percent =
        std::min<std::uint64_t>(100, inner.fetched * 100 / inner.expected);
    downloadProgressPercent.store(static_cast<std::int32_t>(percent), std::memory_order_relaxed);
}

std::size_t receive(char* data, std::size_t size, std::size_t count, void* user) {
    auto& inner = *static_cast<Internals*>(user);
    if (!answerIsPartial(inner)) {
        return 0;
    }
    const std::size_t bytes = size * count;
    inner.pending.append(data, bytes);
    inner.fetched += bytes;
    reportProgress(inner);
    return bytes;
}

void setRequestOptions(Internals& inner) {
    CURL* easy = inner.session.handle();
    curl_easy_setopt(easy, CURLOPT_URL, inner.url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &inner);
}

void startRequest(Internals& inner, std::uint64_t start, std::uint64_t end) {
    if (inner.attached) {
        curl_multi_remove_handle(inner.multi.get(), inner.session.handle());
    }
    const std::string range = inner.suffixRequest
                                  ? "-" + std::to_string(tailBytes)
                                  : std::to_string(start) + "-" + std::to_string(end - 1);
    curl_easy_setopt(inner.session.handle(), CURLOPT_RANGE, range.c_str());
    inner.requestStart = start;
    inner.requestEnd = end;
    inner.pending.clear();
    inner.front = 0;
    inner.pendingStart = start;
    inner.requestDone = false;
    inner.statusChecked = false;
    inner.result = CURLE_OK;
    curl_multi_add_handle(inner.multi.get(), inner.session.handle());
    inner.attached = true;
}

// Moves the transfer on until pending reaches wanted or the request ends.
void pump(Internals& inner, std::uint64_t wanted) {
    while (!inner.requestDone && inner.pendingEnd() < wanted) {
        int running = 0;
        curl_multi_perform(inner.multi.get(), &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(inner.multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE) {
                inner.requestDone = true;
                inner.result = message->data.result;
            }
        }
        if (!inner.requestDone && inner.pendingEnd() < wanted) {
            curl_multi_poll(inner.multi.get(), nullptr, 0, 1000, nullptr);
        }
    }
    if (inner.requestDone && inner.result == CURLE_OK && !answerIsPartial(inner)) {
        inner.result = CURLE_WRITE_ERROR;
    }
}

bool refused(const Internals& inner) {
    return inner.owner->state == RemoteArchive::State::Refused;
}

// Waits before retry number retry (0 first): one, two, then four times the base delay.
void waitBeforeRetry(int retry) {
    const long factor = retry == 0 ? 1 : (retry == 1 ? 2 : 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(rangeRetryBaseMilliseconds * factor));
}

// Makes bytes [start, wanted) of the current request arrive, asking again from where a failed
// try stopped. False once the server refused or the tries ran out.
bool fill(Internals& inner, std::uint64_t wanted) {
    int withoutProgress = 0;
    int retry = 0;
    while (true) {
        const std::uint64_t before = inner.pendingEnd();
        pump(inner, wanted);
        if (refused(inner)) {
            return false;
        }
        if (!inner.requestDone && inner.pendingEnd() >= inner.requestEnd) {
            // Let the request finish, so that the connection is kept for the next one.
            pump(inner, UINT64_MAX);
        }
        const bool shortBody =
            inner.requestDone && inner.result == CURLE_OK && inner.pendingEnd() < inner.requestEnd;
        if (inner.pendingEnd() >= wanted ||
            (inner.requestDone && inner.result == CURLE_OK && !shortBody)) {
            return true;
        }
        // A try that failed after an earlier read was already served still brought bytes.
        const bool tryBroughtBytes =
            inner.pendingEnd() > before ||
            (!inner.suffixRequest && inner.pendingEnd() > inner.requestStart);
        if (tryBroughtBytes) {
            withoutProgress = 0;
            retry = 0;
        } else if (++withoutProgress >= triesWithoutProgress) {
            inner.owner->state = RemoteArchive::State::Failed;
            inner.owner->failure =
                curl_easy_strerror(shortBody ? CURLE_PARTIAL_FILE : inner.result);
            return false;
        }
        waitBeforeRetry(retry++);
        if (!inner.statusChecked && inner.suffixRequest) {
            startRequest(inner, 0, UINT64_MAX);
            continue;
        }
        // Keep what arrived; ask only for the rest.
        const std::uint64_t keptStart = inner.pendingStart;
        std::string kept = inner.takePending();
        const std::uint64_t end = inner.requestEnd;
        const std::uint64_t resumeAt = keptStart + kept.size();
        inner.suffixRequest = false;
        startRequest(inner, resumeAt, end);
        inner.pending = std::move(kept);
        inner.pendingStart = keptStart;
    }
}

// Drops pending bytes before offset (consumed, or skipped between entries).
void dropBefore(Internals& inner, std::uint64_t offset) {
    if (offset <= inner.pendingStart) {
        return;
    }
    const std::uint64_t drop =
        std::min<std::uint64_t>(offset - inner.pendingStart, inner.pendingSize());
    inner.front += drop;
    inner.pendingStart += drop;
    // Compacted now and then instead of moving the rest on every read.
    if (inner.front >= blockBytes && inner.front > inner.pending.size() / 2) {
        inner.pending.erase(0, inner.front);
        inner.front = 0;
    }
}

const Segment* cachedAt(const Internals& inner, std::uint64_t offset, std::uint64_t length) {
    for (const Segment& segment : inner.cache) {
        if (offset >= segment.start && offset + length <= segment.start + segment.bytes.size()) {
            return &segment;
        }
    }
    return nullptr;
}

// Fetches [start, end) whole into the cache.
bool fetchBlock(Internals& inner, std::uint64_t start, std::uint64_t end) {
    startRequest(inner, start, end);
    if (!fill(inner, end)) {
        return false;
    }
    inner.cache.push_back({start, inner.takePending()});
    return true;
}

bool streamCovers(const Internals& inner, std::uint64_t offset) {
    return offset >= inner.pendingStart && offset < inner.requestEnd &&
           (!inner.requestDone || offset < inner.pendingEnd());
}

// Copies up to length bytes at offset into data; -1 when they cannot be had.
zip_int64_t readAt(Internals& inner, std::uint64_t offset, char* data, std::uint64_t length) {
    const std::uint64_t size = inner.owner->size();
    length = offset >= size ? 0 : std::min(length, size - offset);
    std::uint64_t done = 0;
    while (done < length) {
        const std::uint64_t at = offset + done;
        if (const Segment* segment = cachedAt(inner, at, length - done)) {
            std::memcpy(data + done, segment->bytes.data() + (at - segment->start), length - done);
            return static_cast<zip_int64_t>(length);
        }
        if (!inner.inRun) {
            const std::uint64_t end = std::min(size, at + std::max(length - done, blockBytes));
            if (!fetchBlock(inner, at, end)) {
                return -1;
            }
            continue;
        }
        if (!streamCovers(inner, at)) {
            const std::uint64_t budgetEnd =
                inner.runBudget > 0 ? at + inner.runBudget : inner.runEnd;
            inner.runBudget = 0;
            inner.runEnd = std::max(budgetEnd, at + (length - done));
            inner.suffixRequest = false;
            startRequest(inner, at, std::min(size, std::max(inner.runEnd, at + blockBytes / 16)));
        }
        dropBefore(inner, at);
        const std::uint64_t wanted = std::min(inner.requestEnd, offset + length);
        if (!fill(inner, wanted)) {
            return -1;
        }
        dropBefore(inner, at);
        const std::uint64_t available = std::min<std::uint64_t>(inner.pendingSize(), wanted - at);
        std::memcpy(data + done, inner.pendingData(), available);
        done += available;
        if (available == 0) {
            return -1;
        }
    }
    return static_cast<zip_int64_t>(done);
}

zip_int64_t sourceCallback(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& inner = *static_cast<Internals*>(user);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        inner.position = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const zip_int64_t read = readAt(inner, inner.position, static_cast<char*>(data), length);
        if (read < 0) {
            zip_error_set(&inner.error, ZIP_ER_READ, EIO);
            return -1;
        }
        inner.position += static_cast<std::uint64_t>(read);
        return read;
    }
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* status = static_cast<zip_stat_t*>(data);
        zip_stat_init(status);
        status->size = inner.owner->size();
        status->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&inner.error, data, length);
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t target = zip_source_seek_compute_offset(
            inner.position, inner.owner->size(), data, length, &inner.error);
        if (target < 0) {
            return -1;
        }
        inner.position = static_cast<std::uint64_t>(target);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(inner.position);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
            ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, -1);
    default:
        zip_error_set(&inner.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

RemoteArchive::RemoteArchive(const std::string& url) : inner(std::make_unique<Internals>()) {
    inner->owner = this;
    inner->url = url;
    zip_error_init(&inner->error);
    if (inner->session.handle() != nullptr) {
        setRequestOptions(*inner);
    }
}

RemoteArchive::~RemoteArchive() {
    if (inner->attached) {
        curl_multi_remove_handle(inner->multi.get(), inner->session.handle());
    }
    zip_error_fini(&inner->error);
}

RemoteArchive::State RemoteArchive::open() {
    if (inner->session.handle() == nullptr || !inner->multi) {
        state = State::Failed;
        failure = curl_easy_strerror(CURLE_FAILED_INIT);
        return state;
    }
    inner->suffixRequest = true;
    startRequest(*inner, 0, UINT64_MAX);
    if (!fill(*inner, UINT64_MAX)) {
        return state;
    }
    inner->suffixRequest = false;
    archiveSize = inner->requestEnd;
    const std::uint64_t start = inner->pendingStart;
    inner->cache.push_back({start, inner->takePending()});
    return state;
}

zip_source_t* RemoteArchive::makeSource() {
    return zip_source_function_create(sourceCallback, inner.get(), nullptr);
}

void RemoteArchive::beginRun(std::uint64_t bytes) {
    inner->inRun = true;
    inner->runBudget = bytes;
}

void RemoteArchive::endRun() {
    inner->inRun = false;
    inner->runBudget = 0;
}

void RemoteArchive::expectTotal(std::uint64_t bytes) {
    inner->expected = bytes;
    inner->fetched = 0;
}
