#pragma once
#include "update/http/curl_session.h"

#include <atomic>
#include <cstdint>
#include <curl/curl.h>
#include <memory>
#include <string>
#include <vector>

// Bytes of a file at an offset.
struct FileSegment {
    std::uint64_t start = 0;
    std::string bytes;
};

// What a further connection to the same file starts from: its size, its validator and the bytes
// read while the archive was parsed (shared and never changed, so several readers on several
// threads can serve their own parsing from them without a request).
struct ReaderSeed {
    std::uint64_t size = 0;
    std::string validator;
    std::shared_ptr<const std::vector<FileSegment>> parsed;
};

// Bytes fetched by every reader of one install, for its one download percentage. Readers on
// several threads add to it.
struct TransferTally {
    std::atomic<std::uint64_t> fetched{0};
    std::uint64_t expected = 0; // set before the transfers start
};

// Delay before the first retry of a failed range request, doubled up to four times it; tests
// lower it in-process.
extern long rangeRetryBaseMilliseconds;

// A file on a web server read through HTTP range requests, so that an archive can be parsed and
// single entries unpacked without fetching the whole file. One easy handle, reused for every
// request (and so one connection), runs inside a multi handle that the reads pump. Reads outside
// a run (parsing the archive) are served from the file's tail and the latest fetched block;
// inside a run, announced by the install, the bytes come from one streaming request.
class RangeReader {
  public:
    // Changed: the file is no longer the one the first answer came from (why in refusal).
    enum class State { Ready, Refused, Failed, Changed };

    // Every request with the archives' transfer options for settings.
    RangeReader(const std::string& url, const TransferSettings& settings);
    // A reader of the file another reader opened and parsed (its seed): open() is not called.
    RangeReader(const std::string& url, const TransferSettings& settings, const ReaderSeed& seed);
    ~RangeReader();
    RangeReader(const RangeReader&) = delete;
    RangeReader& operator=(const RangeReader&) = delete;

    // Fetches the file's tail and learns its size. Refused when the server does not answer a
    // range request with 206 of the bytes asked for, plainly (why in refusal), Failed when the
    // transfer failed (libcurl's text in failure). Every later request carries the tail's
    // validator (If-Range), so that a file republished meanwhile is never read as one with the
    // old: the reader is Changed from then on.
    State open();

    // Copies up to length bytes at offset into data: how many (fewer only at the end of the
    // file), or -1 when they cannot be had; state then says why.
    std::int64_t read(std::uint64_t offset, char* data, std::uint64_t length);

    // The next read that the cache does not hold starts a run of about bytes, fetched in one
    // request; runs end when the install calls endRun.
    void beginRun(std::uint64_t bytes);
    void endRun();
    // Bytes the runs will fetch in all, for the download percentage.
    void expectTotal(std::uint64_t bytes);
    // From now on what arrives counts into tally (shared with other readers) rather than into
    // this reader's own.
    void countInto(TransferTally& tally);

    // Blocks fetched outside runs are kept from now on (the archive's parsing), until seed()
    // hands them over; otherwise only the tail and the latest block stay.
    void keepParsedBlocks() { keepingParsed = true; }
    ReaderSeed seed();

    std::uint64_t size() const { return fileSize; }
    State state() const { return currentState; }
    // Why the reader is not Ready: the refusal (Refused, Changed) or libcurl's text (Failed).
    const std::string& reason() const { return reasonText; }

  private:
    using Segment = FileSegment;
    struct MultiCleanup {
        void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
    };
    struct HeaderListCleanup {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };

    static std::size_t receive(char* data, std::size_t size, std::size_t count, void* reader);
    void keep(const char* data, std::size_t bytes);
    bool answerIsPartial();
    bool answerIsTheSameFile(std::uint64_t total);
    void reportProgress() const;
    void startRequest(std::uint64_t start, std::uint64_t end);
    void pump(std::uint64_t wanted);
    bool fill(std::uint64_t wanted);
    void resumeRequest();
    void dropBefore(std::uint64_t offset);
    const Segment* cachedAt(std::uint64_t offset, std::uint64_t length) const;
    bool fetchBlock(std::uint64_t start, std::uint64_t end);
    bool streamCovers(std::uint64_t offset) const;
    void startRunRequest(std::uint64_t at, std::uint64_t length);

    std::uint64_t pendingEnd() const { return pendingStart + pendingSize(); }
    std::size_t pendingSize() const { return pending.size() - front; }
    const char* pendingData() const { return pending.data() + front; }
    std::string takePending();

    std::string url;
    CurlSession session;
    std::unique_ptr<CURLM, MultiCleanup> multi{curl_multi_init()};
    bool attached = false;
    State currentState = State::Ready;
    std::string reasonText;
    std::uint64_t fileSize = 0;
    // The first answer's ETag (else Last-Modified), sent as If-Range with every later request.
    std::string validator;
    std::unique_ptr<curl_slist, HeaderListCleanup> ifRangeHeader;

    // The request in flight: bytes [requestStart, requestEnd) were asked for; of those that have
    // arrived, the ones not yet consumed are in pending from pendingStart on.
    std::uint64_t requestStart = 0;
    std::uint64_t requestEnd = 0;
    bool suffixRequest = false;
    bool requestDone = true;
    bool statusChecked = false;
    CURLcode result = CURLE_OK;
    std::string pending;
    std::size_t front = 0; // bytes of pending already consumed
    std::uint64_t pendingStart = 0;
    std::uint64_t skipTo = 0; // while a read in a run waits: arriving bytes before it are dropped

    std::vector<Segment> cache;
    std::shared_ptr<const std::vector<Segment>> seeded; // another reader's parsing
    bool keepingParsed = false;
    bool inRun = false;
    std::uint64_t runBudget = 0;
    std::uint64_t runEnd = 0;

    TransferTally ownTally;
    TransferTally* tally = &ownTally;
};
