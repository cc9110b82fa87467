#include "ui/installer_threads.h"

#include <atomic>

namespace {

std::atomic<int> threadsAtWork{0};

} // namespace

std::thread startInstallerThread(void (*body)()) {
    threadsAtWork.fetch_add(1, std::memory_order_relaxed);
    return std::thread([body] {
        body();
        threadsAtWork.fetch_sub(1, std::memory_order_release);
    });
}

bool installerThreadsAtWork() {
    return threadsAtWork.load(std::memory_order_acquire) != 0;
}
