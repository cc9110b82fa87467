#pragma once
#include <atomic>
#include <cstdint>
#include <curl/curl.h>

// Percentage of the current download, written by every transfer that knows its size.
extern std::atomic<std::int32_t> downloadProgressPercent;

// libcurl transfer-progress callback: sets downloadProgressPercent once the total is known.
// Never aborts a transfer.
int transferProgressCallback(void* userData, curl_off_t downloadTotal, curl_off_t downloaded,
                             curl_off_t uploadTotal, curl_off_t uploaded);
