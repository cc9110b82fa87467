#include "update/patch/pages_ahead.h"

#include <algorithm>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace {

// How far ahead of the writer pages are made, and how many at a time: far enough that the
// writer rarely meets a page not yet made, near enough that the dirty but still empty pages
// stay a small part of what the system writes back.
constexpr std::size_t leadBytes = 128 << 20;
constexpr std::size_t stepBytes = 8 << 20;

} // namespace

PagesAhead::PagesAhead(char* startOfMapping, std::size_t sizeOfMapping)
    : start(startOfMapping), size(sizeOfMapping) {
    if (size == 0) {
        return;
    }
    try {
        maker = std::thread([this] { makeAhead(); });
    } catch (const std::system_error&) {
        // The writer's faults make the pages instead.
    }
}

PagesAhead::~PagesAhead() {
    if (!maker.joinable()) {
        return;
    }
    stopping.store(true, std::memory_order_release);
    written.store(size, std::memory_order_release);
    written.notify_one();
    maker.join();
}

void PagesAhead::writerAt(std::size_t writtenBytes) {
    if (!maker.joinable()) {
        return;
    }
    written.store(writtenBytes, std::memory_order_release);
    written.notify_one();
}

void PagesAhead::makeAhead() {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::size_t made = 0;
    while (made < size && !stopping.load(std::memory_order_acquire)) {
        const std::size_t seen = written.load(std::memory_order_acquire);
        made = std::max(made, seen / page * page); // the pages the writer reached are made
        if (made >= seen + leadBytes) {
            written.wait(seen, std::memory_order_acquire);
            continue;
        }
        const std::size_t length = std::min(stepBytes, size - made);
        // Where the system cannot (an older kernel), the writer's faults make the pages.
        if (madvise(start + made, length, MADV_POPULATE_WRITE) != 0) {
            return;
        }
        made += length;
    }
}
