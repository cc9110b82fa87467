#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "update/manifest_check.h"

// A manifest check on a thread of its own, so that the main thread can draw a window meanwhile.
// The check writes only into this record, which the thread shares with the caller: a run that
// ends before the check does (the player closed the window) leaves the thread nothing of the
// caller's to touch.
struct ManifestFetch {
    std::string url;
    ReleaseTrust trust;
    TransferSettings transfer;
    CheckedManifest result; // final once finished reads true
    std::atomic<bool> finished{false};
    std::mutex mutex;
    std::condition_variable finishedChanged;
};

// Starts fetchCheckedManifest(url, trust) with the transfer settings on a detached thread.
std::shared_ptr<ManifestFetch> startManifestFetch(const std::string& url, const ReleaseTrust& trust,
                                                  const TransferSettings& transfer);

// Waits at most limit; true when the fetch has finished (its result is then final).
bool waitForManifestFetch(ManifestFetch& fetch, std::chrono::milliseconds limit);
void waitForManifestFetch(ManifestFetch& fetch);
