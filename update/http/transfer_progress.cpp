#include "update/http/transfer_progress.h"

std::atomic<std::int32_t> downloadProgressPercent{0};

int transferProgressCallback(void*, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t,
                             curl_off_t) {
    if (downloadTotal < 1) {
        return 0;
    }
    const double percent =
        static_cast<double>(downloaded) / static_cast<double>(downloadTotal) * 100.0;
    downloadProgressPercent.store(static_cast<std::int32_t>(percent), std::memory_order_relaxed);
    return 0;
}
