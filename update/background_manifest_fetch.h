#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "update/manifest_check.h"

// A manifest fetch on a thread of its own, so that the main thread can draw a window meanwhile.
// The fetch writes only into this record, which the thread shares with the caller: a run that
// ends before the fetch does (the player closed the window) leaves the thread nothing of the
// caller's to touch.
struct ManifestFetch {
    std::string url;
    bool keepText = false;
    int status = 1;
    LatestVersionInfo info;
    std::string text;
    std::atomic<bool> finished{false};
    std::mutex mutex;
    std::condition_variable finishedChanged;
};

// Starts fetchLatestVersionInfo(url) on a detached thread.
std::shared_ptr<ManifestFetch> startManifestFetch(const std::string& url, bool keepText);

// Waits at most limit; true when the fetch has finished (its fields are then final).
bool waitForManifestFetch(ManifestFetch& fetch, std::chrono::milliseconds limit);
void waitForManifestFetch(ManifestFetch& fetch);
