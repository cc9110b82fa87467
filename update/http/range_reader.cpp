#include "update/http/range_reader.h"

#include "update/http/range_answer.h"
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

// Waits before retry number retry (0 first): one, two, then four times the base delay.
void waitBeforeRetry(int retry) {
    const long factor = retry == 0 ? 1 : (retry == 1 ? 2 : 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(rangeRetryBaseMilliseconds * factor));
}

} // namespace

RangeReader::RangeReader(const std::string& fileUrl, const TransferSettings& settings)
    : url(fileUrl), session(TransferKind::Archive, settings) {
    CURL* easy = session.handle();
    if (easy != nullptr) {
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receive);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    }
}

RangeReader::~RangeReader() {
    if (attached) {
        curl_multi_remove_handle(multi.get(), session.handle());
    }
}

std::string RangeReader::takePending() {
    std::string bytes = pending.substr(front);
    pending.clear();
    front = 0;
    return bytes;
}

// Anything but a 206 that starts where it was asked to is a server that cannot serve ranges
// (or an error page, or a redirect that is not followed): the install takes the whole archive.
bool RangeReader::answerIsPartial() {
    if (statusChecked) {
        return true;
    }
    long status = 0;
    curl_easy_getinfo(session.handle(), CURLINFO_RESPONSE_CODE, &status);
    if (status == 200 && !validator.empty()) {
        // If-Range did not match: the server sends the whole file, which has changed.
        currentState = State::Changed;
        reasonText = "the archive changed on the server since its first answer";
        return false;
    }
    if (status != 206) {
        currentState = State::Refused;
        reasonText = "the server answered a range request with status " + std::to_string(status) +
                     " instead of 206";
        return false;
    }
    std::uint64_t start = 0;
    std::uint64_t total = 0;
    std::string problem = partialAnswerProblem(session.handle());
    if (problem.empty() && !contentRange(session.handle(), start, total)) {
        const std::string range = answerHeader(session.handle(), "Content-Range");
        problem = range.empty() ? "with status 206 but no Content-Range"
                                : "with a Content-Range it cannot read: " + range;
    }
    if (!problem.empty()) {
        currentState = State::Refused;
        reasonText = "the server answered a range request " + problem;
        return false;
    }
    if (!answerIsTheSameFile(total)) {
        return false;
    }
    if (suffixRequest) {
        requestStart = start;
        requestEnd = total;
        pendingStart = start;
    } else if (start != requestStart) {
        currentState = State::Refused;
        reasonText = "the server answered a range request with other bytes";
        return false;
    }
    statusChecked = true;
    return true;
}

// Also a server that ignores If-Range shows a republished file, by another validator or size.
// The first answer's validator goes with every later request.
bool RangeReader::answerIsTheSameFile(std::uint64_t total) {
    const std::string answered = answerValidator(session.handle());
    const bool sameSize = fileSize == 0 || total == fileSize; // the size is known once open
    const bool sameValidator = validator.empty() || answered.empty() || answered == validator;
    if (!sameSize || !sameValidator) {
        currentState = State::Changed;
        reasonText = "the archive changed on the server since its first answer";
        return false;
    }
    if (validator.empty() && !answered.empty()) {
        validator = answered;
        ifRangeHeader.reset(curl_slist_append(nullptr, ("If-Range: " + validator).c_str()));
        curl_easy_setopt(session.handle(), CURLOPT_HTTPHEADER, ifRangeHeader.get());
    }
    return true;
}

std::size_t RangeReader::receive(char* data, std::size_t size, std::size_t count, void* user) {
    auto& reader = *static_cast<RangeReader*>(user);
    if (!reader.answerIsPartial()) {
        return 0;
    }
    const std::size_t bytes = size * count;
    reader.keep(data, bytes);
    reader.tally->fetched.fetch_add(bytes, std::memory_order_relaxed);
    reader.reportProgress();
    return bytes;
}

// Appends arrived bytes to pending, but not those that the read waiting for them has already
// passed: a run streams over entries that are never read (empty files, folders), and their
// headers, however many, are not kept.
void RangeReader::keep(const char* data, std::size_t bytes) {
    if (pendingSize() == 0 && skipTo > pendingStart) {
        const auto skipped =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes, skipTo - pendingStart));
        pending.clear();
        front = 0;
        pendingStart += skipped;
        data += skipped;
        bytes -= skipped;
    }
    pending.append(data, bytes);
}

void RangeReader::startRequest(std::uint64_t start, std::uint64_t end) {
    if (attached) {
        curl_multi_remove_handle(multi.get(), session.handle());
    }
    const std::string range = suffixRequest ? "-" + std::to_string(tailBytes)
                                            : std::to_string(start) + "-" + std::to_string(end - 1);
    curl_easy_setopt(session.handle(), CURLOPT_RANGE, range.c_str());
    requestStart = start;
    requestEnd = end;
    pending.clear();
    front = 0;
    pendingStart = start;
    requestDone = false;
    statusChecked = false;
    result = CURLE_OK;
    curl_multi_add_handle(multi.get(), session.handle());
    attached = true;
}

// Moves the transfer on until pending reaches wanted or the request ends.
void RangeReader::pump(std::uint64_t wanted) {
    while (!requestDone && pendingEnd() < wanted) {
        int running = 0;
        curl_multi_perform(multi.get(), &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE) {
                requestDone = true;
                result = message->data.result;
            }
        }
        if (!requestDone && pendingEnd() < wanted) {
            curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
        }
    }
    if (requestDone && result == CURLE_OK && !answerIsPartial()) {
        result = CURLE_WRITE_ERROR;
    }
}

// Asks again for the rest of the current request, keeping what arrived.
void RangeReader::resumeRequest() {
    const std::uint64_t keptStart = pendingStart;
    std::string kept = takePending();
    const std::uint64_t end = requestEnd;
    const std::uint64_t resumeAt = keptStart + kept.size();
    suffixRequest = false;
    startRequest(resumeAt, end);
    pending = std::move(kept);
    pendingStart = keptStart;
}

// Makes bytes [start, wanted) of the current request arrive, asking again from where a failed
// try stopped. False once the server refused or the tries ran out.
bool RangeReader::fill(std::uint64_t wanted) {
    int withoutProgress = 0;
    int retry = 0;
    while (true) {
        const std::uint64_t before = pendingEnd();
        pump(wanted);
        if (currentState == State::Refused || currentState == State::Changed) {
            return false;
        }
        if (!requestDone && pendingEnd() >= requestEnd) {
            // Let the request finish, so that the connection is kept for the next one.
            pump(UINT64_MAX);
        }
        const bool shortBody = requestDone && result == CURLE_OK && pendingEnd() < requestEnd;
        if (pendingEnd() >= wanted || (requestDone && result == CURLE_OK && !shortBody)) {
            return true;
        }
        if (shortBody && pendingEnd() > requestStart) {
            // A short answer that brought bytes is progress, not a failure: some servers cap
            // what one range answer carries. The rest is asked for at once.
            withoutProgress = 0;
            retry = 0;
            resumeRequest();
            continue;
        }
        // A try that failed after an earlier read was already served still brought bytes.
        const bool tryBroughtBytes =
            pendingEnd() > before || (!suffixRequest && pendingEnd() > requestStart);
        if (tryBroughtBytes) {
            withoutProgress = 0;
            retry = 0;
        } else if (++withoutProgress >= triesWithoutProgress) {
            currentState = State::Failed;
            reasonText = curl_easy_strerror(shortBody ? CURLE_PARTIAL_FILE : result);
            return false;
        }
        waitBeforeRetry(retry++);
        if (!statusChecked && suffixRequest) {
            startRequest(0, UINT64_MAX);
            continue;
        }
        resumeRequest();
    }
}

// Drops pending bytes before offset (consumed, or skipped between entries).
void RangeReader::dropBefore(std::uint64_t offset) {
    if (offset <= pendingStart) {
        return;
    }
    const std::uint64_t drop = std::min<std::uint64_t>(offset - pendingStart, pendingSize());
    front += drop;
    pendingStart += drop;
    // Compacted now and then instead of moving the rest on every read.
    if (front >= blockBytes && front > pending.size() / 2) {
        pending.erase(0, front);
        front = 0;
    }
}

bool RangeReader::streamCovers(std::uint64_t offset) const {
    return offset >= pendingStart && offset < requestEnd && (!requestDone || offset < pendingEnd());
}

// The run's request from at: the run's budget when it has just begun, at least length.
void RangeReader::startRunRequest(std::uint64_t at, std::uint64_t length) {
    const std::uint64_t budgetEnd = runBudget > 0 ? at + runBudget : runEnd;
    runBudget = 0;
    runEnd = std::max(budgetEnd, at + length);
    suffixRequest = false;
    startRequest(at, std::min(fileSize, std::max(runEnd, at + blockBytes / 16)));
}

std::int64_t RangeReader::read(std::uint64_t offset, char* data, std::uint64_t length) {
    length = offset >= fileSize ? 0 : std::min(length, fileSize - offset);
    std::uint64_t done = 0;
    while (done < length) {
        const std::uint64_t at = offset + done;
        if (const Segment* segment = cachedAt(at, length - done)) {
            std::memcpy(data + done, segment->bytes.data() + (at - segment->start), length - done);
            return static_cast<std::int64_t>(length);
        }
        if (!inRun) {
            const std::uint64_t end = std::min(fileSize, at + std::max(length - done, blockBytes));
            if (!fetchBlock(at, end)) {
                return -1;
            }
            continue;
        }
        if (!streamCovers(at)) {
            startRunRequest(at, length - done);
        }
        dropBefore(at);
        const std::uint64_t wanted = std::min(requestEnd, offset + length);
        skipTo = at;
        const bool filled = fill(wanted);
        skipTo = 0;
        if (!filled) {
            return -1;
        }
        dropBefore(at);
        const std::uint64_t available = std::min<std::uint64_t>(pendingSize(), wanted - at);
        std::memcpy(data + done, pendingData(), available);
        done += available;
        if (available == 0) {
            return -1;
        }
    }
    return static_cast<std::int64_t>(done);
}

RangeReader::State RangeReader::open() {
    if (session.handle() == nullptr || !multi) {
        currentState = State::Failed;
        reasonText = curl_easy_strerror(CURLE_FAILED_INIT);
        return currentState;
    }
    suffixRequest = true;
    startRequest(0, UINT64_MAX);
    if (!fill(UINT64_MAX)) {
        return currentState;
    }
    suffixRequest = false;
    fileSize = requestEnd;
    const std::uint64_t start = pendingStart;
    cache.push_back({start, takePending()});
    return currentState;
}

void RangeReader::beginRun(std::uint64_t bytes) {
    inRun = true;
    runBudget = bytes;
}

void RangeReader::endRun() {
    inRun = false;
    runBudget = 0;
}
