#pragma once
#include "update/http/curl_session.h"

#include <cstddef>
#include <string>

// A manifest body beyond this size ends the transfer as failed.
constexpr std::size_t manifestSizeLimit = 64 * 1024;

// Every chunk's "got data: " line repeats all that came before it, so a body that trickles in
// would write about the square of its size into the run log. Once a fetch's lines would pass
// this many bytes they are held back, and the transfer's end logs the whole text once instead.
constexpr std::size_t manifestLogBudget = 16 * 1024;

// GET url into text (up to the body's first NUL), with the manifest's transfer options for
// settings and progress: 0 when the transfer completed, else 1 after a run-log line. text
// receives whatever arrived in both cases; httpStatus, when given, the answer's HTTP status (0
// when none came).
int performInMemoryCurl(std::string& text, const std::string& url, const TransferSettings& settings,
                        long* httpStatus = nullptr);

// What one in-memory transfer has received, and what of it went into the run log.
struct ReceiveBuffer {
    std::string bytes;
    std::size_t loggedBytes = 0;   // of "got data: " lines' texts
    std::size_t heldBackLines = 0; // lines not logged once the budget was spent
    std::size_t heldBackBytes = 0; // their texts' bytes
};

// libcurl write callback into a ReceiveBuffer; logs what has arrived so far while the fetch's
// manifestLogBudget lasts. Returns 0, which ends the transfer with a write error, once the body
// would pass manifestSizeLimit.
std::size_t writeToMemoryCallback(char* data, std::size_t size, std::size_t count, void* buffer);

// At a transfer's end: when lines were held back, logs the whole text received once, then one
// line saying how much was left out.
void logHeldBackData(const ReceiveBuffer& buffer);
