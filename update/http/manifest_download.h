#pragma once
#include "update/http/curl_session.h"

#include <cstddef>
#include <string>

// A manifest body beyond this size ends the transfer as failed.
constexpr std::size_t manifestSizeLimit = 64 * 1024;

// GET url into text (up to the body's first NUL), with the manifest's transfer options for
// settings and progress: 0 when the transfer completed, else 1 after a run-log line. text
// receives whatever arrived in both cases.
int performInMemoryCurl(std::string& text, const std::string& url,
                        const TransferSettings& settings);

// What one in-memory transfer has received.
struct ReceiveBuffer {
    std::string bytes;
};

// libcurl write callback into a ReceiveBuffer; logs what has arrived so far. Returns 0, which
// ends the transfer with a write error, once the body would pass manifestSizeLimit.
std::size_t writeToMemoryCallback(char* data, std::size_t size, std::size_t count, void* buffer);
