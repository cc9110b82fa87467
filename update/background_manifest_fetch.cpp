#include "update/background_manifest_fetch.h"

#include "launcher/work_threads.h"

namespace {

void runFetch(const std::shared_ptr<ManifestFetch>& fetch) {
    CheckedManifest result = fetchCheckedManifest(fetch->url, fetch->trust, {}, fetch->transfer);
    std::lock_guard lock(fetch->mutex);
    fetch->result = std::move(result);
    fetch->finished.store(true, std::memory_order_release);
    fetch->finishedChanged.notify_all();
}

} // namespace

std::shared_ptr<ManifestFetch> startManifestFetch(const std::string& url, const ReleaseTrust& trust,
                                                  const TransferSettings& transfer) {
    auto fetch = std::make_shared<ManifestFetch>();
    fetch->url = url;
    fetch->trust = trust;
    fetch->transfer = transfer;
    // Counted, so that a run ending while the check still runs ends without tearing down what it
    // uses.
    startCountedThread([fetch] { runFetch(fetch); }).detach();
    return fetch;
}

bool waitForManifestFetch(ManifestFetch& fetch, std::chrono::milliseconds limit) {
    std::unique_lock lock(fetch.mutex);
    return fetch.finishedChanged.wait_for(
        lock, limit, [&] { return fetch.finished.load(std::memory_order_acquire); });
}

void waitForManifestFetch(ManifestFetch& fetch) {
    std::unique_lock lock(fetch.mutex);
    fetch.finishedChanged.wait(lock,
                               [&] { return fetch.finished.load(std::memory_order_acquire); });
}
