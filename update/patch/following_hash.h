#pragma once
#include "update/release/sha256_stream.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

// The SHA-256 of a buffer that is still being written from its start, computed by a thread of
// its own that follows the writer: where a second core is free, hashing a patched file costs no
// wall time. Without a thread (none could be started) the bytes are hashed as they are reported.
class FollowingHash {
  public:
    explicit FollowingHash(const unsigned char* data);
    ~FollowingHash();
    FollowingHash(const FollowingHash&) = delete;
    FollowingHash& operator=(const FollowingHash&) = delete;

    // The first made bytes of the buffer are written and will not change.
    void madeUpTo(std::size_t made);
    // No more bytes come: the hex digest of the first made bytes (empty when libcrypto failed).
    std::string finish(std::size_t made);

  private:
    static constexpr std::uint64_t finishedBit = std::uint64_t{1} << 63;
    void follow();
    void hashUpTo(std::size_t made);

    const unsigned char* data;
    Sha256Stream hash;
    std::size_t hashed = 0; // the follower's own, or the writer's when there is no follower
    std::atomic<std::uint64_t> progress{0};
    std::thread follower;
};
