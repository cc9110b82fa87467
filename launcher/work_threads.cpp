#include "launcher/work_threads.h"

#include <atomic>

namespace {

std::atomic<int> threadsAtWork{0};

} // namespace

std::thread startCountedThread(std::function<void()> body) {
    threadsAtWork.fetch_add(1, std::memory_order_relaxed);
    return std::thread([body = std::move(body)] {
        body();
        threadsAtWork.fetch_sub(1, std::memory_order_release);
    });
}

bool countedThreadsAtWork() {
    return threadsAtWork.load(std::memory_order_acquire) != 0;
}
