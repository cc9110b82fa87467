#include "update/patch/following_hash.h"

#include <algorithm>
#include <system_error>

namespace {

// Hashed in pieces so that the follower keeps close behind the writer.
constexpr std::size_t pieceBytes = 4 << 20;

} // namespace

FollowingHash::FollowingHash(const unsigned char* bytes) : data(bytes) {
    try {
        follower = std::thread([this] { follow(); });
    } catch (const std::system_error&) {
        // Hashed by the writer instead, as it reports its progress.
    }
}

FollowingHash::~FollowingHash() {
    if (follower.joinable()) {
        progress.fetch_or(finishedBit, std::memory_order_release);
        progress.notify_one();
        follower.join();
    }
}

void FollowingHash::hashUpTo(std::size_t made) {
    while (hashed < made) {
        const std::size_t piece = std::min(made - hashed, pieceBytes);
        hash.update(data + hashed, piece);
        hashed += piece;
    }
}

void FollowingHash::follow() {
    while (true) {
        const std::uint64_t seen = progress.load(std::memory_order_acquire);
        const auto made = static_cast<std::size_t>(seen & ~finishedBit);
        if (made > hashed) {
            hashUpTo(std::min(made, hashed + pieceBytes));
            continue;
        }
        if ((seen & finishedBit) != 0) {
            return;
        }
        progress.wait(seen, std::memory_order_acquire);
    }
}

void FollowingHash::madeUpTo(std::size_t made) {
    if (!follower.joinable()) {
        hashUpTo(made);
        return;
    }
    progress.store(made, std::memory_order_release);
    progress.notify_one();
}

std::string FollowingHash::finish(std::size_t made) {
    if (follower.joinable()) {
        progress.store(made | finishedBit, std::memory_order_release);
        progress.notify_one();
        follower.join();
    }
    hashUpTo(made);
    return hash.finishHex();
}
