#include "update/http/manifest_download.h"

#include "launcher/run_log.h"
#include "update/http/curl_session.h"
#include "update/http/transfer_progress.h"

#include <cstring>
#include <new>

namespace {

std::string textUpToFirstNul(const std::string& bytes) {
    return std::string(bytes.c_str());
}

} // namespace

std::size_t writeToMemoryCallback(char* data, std::size_t size, std::size_t count, void* user) {
    auto& buffer = *static_cast<ReceiveBuffer*>(user);
    auto& received = buffer.bytes;
    const std::size_t n = size * count;
    if (n > manifestSizeLimit - received.size()) {
        // Every chunk is logged with all that came before it: a large body would fill the disk.
        writeToLog("manifest larger than " + std::to_string(manifestSizeLimit) +
                   " bytes, transfer aborted");
        return 0;
    }
    try {
        received.append(data, n);
    } catch (const std::bad_alloc&) {
        writeToLog("not enough memory (realloc returned NULL)\n");
        return 0;
    }
    const std::size_t textBytes = std::strlen(received.c_str());
    if (buffer.heldBackLines == 0 && buffer.loggedBytes + textBytes <= manifestLogBudget) {
        buffer.loggedBytes += textBytes;
        writeToLog("got data: " + textUpToFirstNul(received));
    } else {
        ++buffer.heldBackLines;
        buffer.heldBackBytes += textBytes;
    }
    return n;
}

void logHeldBackData(const ReceiveBuffer& buffer) {
    if (buffer.heldBackLines == 0) {
        return;
    }
    writeToLog("got data: " + textUpToFirstNul(buffer.bytes));
    writeToLog("left out of the run log: " + std::to_string(buffer.heldBackLines) +
               " \"got data: \" lines of " + std::to_string(buffer.heldBackBytes) +
               " bytes in all; the line above holds everything received");
}

int performInMemoryCurl(std::string& text, const std::string& url, const TransferSettings& settings,
                        long* httpStatus) {
    ReceiveBuffer buffer;
    const CurlSession session(TransferKind::Manifest, settings);
    CURL* curl = session.handle();
    if (curl == nullptr) {
        // Reporting success here would let the caller trust a manifest it never saw.
        writeToLog("curl_easy_init() failed");
        text.clear();
        return 1;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToMemoryCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &buffer);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, transferProgressCallback);

    const CURLcode result = curl_easy_perform(curl);
    logHeldBackData(buffer);
    if (httpStatus != nullptr) {
        *httpStatus = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, httpStatus);
    }
    if (result != CURLE_OK) {
        writeToLog(std::string("curl_easy_perform() failed: ") + curl_easy_strerror(result));
    }
    text = textUpToFirstNul(buffer.bytes);
    return result == CURLE_OK ? 0 : 1;
}
