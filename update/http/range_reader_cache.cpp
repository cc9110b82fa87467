#include "update/http/range_reader.h"

#include "update/http/transfer_progress.h"

#include <algorithm>

// What a reader keeps of the file besides the request in flight: the tail, the blocks read
// outside runs, another reader's parsing; and what it counts of the bytes that arrive.

RangeReader::RangeReader(const std::string& fileUrl, const TransferSettings& settings,
                         const ReaderSeed& seed)
    : RangeReader(fileUrl, settings) {
    fileSize = seed.size;
    seeded = seed.parsed;
    validator = seed.validator;
    if (!validator.empty() && session.handle() != nullptr) {
        ifRangeHeader.reset(curl_slist_append(nullptr, ("If-Range: " + validator).c_str()));
        curl_easy_setopt(session.handle(), CURLOPT_HTTPHEADER, ifRangeHeader.get());
    }
    if (session.handle() == nullptr || !multi) {
        currentState = State::Failed;
        reasonText = curl_easy_strerror(CURLE_FAILED_INIT);
    }
}

void RangeReader::reportProgress() const {
    if (tally->expected == 0) {
        return;
    }
    const std::uint64_t fetched = tally->fetched.load(std::memory_order_relaxed);
    const std::uint64_t percent = std::min<std::uint64_t>(100, fetched * 100 / tally->expected);
    downloadProgressPercent.store(static_cast<std::int32_t>(percent), std::memory_order_relaxed);
}

const RangeReader::Segment* RangeReader::cachedAt(std::uint64_t offset,
                                                  std::uint64_t length) const {
    const auto covers = [&](const Segment& segment) {
        return offset >= segment.start && offset + length <= segment.start + segment.bytes.size();
    };
    for (const Segment& segment : cache) {
        if (covers(segment)) {
            return &segment;
        }
    }
    if (seeded) {
        for (const Segment& segment : *seeded) {
            if (covers(segment)) {
                return &segment;
            }
        }
    }
    return nullptr;
}

// Fetches [start, end) whole into the cache. Reads outside a run parse the archive front to back,
// and libzip keeps what it has parsed: beside the tail that open() fetched, only the latest block
// stays, so that no central directory is held a second time here.
bool RangeReader::fetchBlock(std::uint64_t start, std::uint64_t end) {
    startRequest(start, end);
    if (!fill(end)) {
        return false;
    }
    if (!keepingParsed) {
        cache.resize(std::min<std::size_t>(cache.size(), 1));
    }
    cache.push_back({start, takePending()});
    return true;
}

void RangeReader::expectTotal(std::uint64_t bytes) {
    tally->expected = bytes;
    tally->fetched.store(0, std::memory_order_relaxed);
}

void RangeReader::countInto(TransferTally& shared) {
    tally = &shared;
}

ReaderSeed RangeReader::seed() {
    keepingParsed = false;
    auto parsed = std::make_shared<std::vector<Segment>>(std::move(cache));
    cache.clear();
    if (seeded) {
        parsed->insert(parsed->end(), seeded->begin(), seeded->end());
    }
    seeded = parsed;
    return ReaderSeed{fileSize, validator, std::move(parsed)};
}
