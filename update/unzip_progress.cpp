#include "update/unzip_progress.h"

std::atomic<std::int32_t> unzipProgressPercent{0};

void unzipProgressHandler(const std::string&, long long entryNumber, long long total) {
    if (total == 0) {
        return;
    }
    const double percent = static_cast<double>(entryNumber) / static_cast<double>(total) * 99.0;
    unzipProgressPercent.store(static_cast<std::int32_t>(percent), std::memory_order_relaxed);
}

void finishUnzipProgress(bool succeeded) {
    if (succeeded) {
        unzipProgressPercent.store(100, std::memory_order_relaxed);
    }
}
