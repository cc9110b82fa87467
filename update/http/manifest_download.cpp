#include "update/http/manifest_download.h"

#include "launcher/run_log.h"
#include "update/http/curl_session.h"
#include "update/http/transfer_progress.h"

#include <new>

namespace {

std::string textUpToFirstNul(const std::string& bytes) {
    return std::string(bytes.c_str());
}

} // namespace

std::size_t writeToMemoryCallback(char* data, std::size_t size, std::size_t count, void* buffer) {
    auto& received = static_cast<ReceiveBuffer*>(buffer)->bytes;
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
    writeToLog("got data: " + textUpToFirstNul(received));
    return n;
}

int performInMemoryCurl(std::string& text, const std::string& url,
                        const TransferSettings& settings) {
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
    if (result != CURLE_OK) {
        writeToLog(std::string("curl_easy_perform() failed: ") + curl_easy_strerror(result));
    }
    text = textUpToFirstNul(buffer.bytes);
    return result == CURLE_OK ? 0 : 1;
}
