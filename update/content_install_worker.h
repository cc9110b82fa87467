#pragma once
#include "update/manifest_check.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <thread>

// The worker's result (0 success, 1 failure), final once installerDone reads true with acquire
// ordering.
extern std::atomic<std::int32_t> installerResult;
// Raised by the worker as its last act on every path, and by the installer window when the user
// closes it.
extern std::atomic<bool> installerDone;

// What the content installer hands its worker: the manifest it accepted, where the game goes and
// the settings its transfers take.
struct ContentInstallRequest {
    CheckedManifest manifest;
    // The setting: the archive is saved as appDisplayName + ".zip", the game's bundle is the
    // manifest's ApplicationExecutablePrefix + appDisplayName + ".app".
    std::string appDisplayName;
    std::string dataFolder;
    TransferSettings transfer;
};

// Thread body of the content installer: downloads, unpacks and starts the game in the data
// folder, then records the installed version once the game runs (a first install's files are
// made durable between the two). The old record goes before
// anything is downloaded, so that an installation that does not complete is never taken for an
// installed version. On every path it stores installerResult, then makes finished (when given)
// ready and raises installerDone last.
void contentInstallWorker(const ContentInstallRequest& request,
                          std::promise<void>* finished = nullptr);

// The worker as the installer window holds it.
struct InstallerWorker {
    std::thread thread;
    // Ready once the worker has stored installerResult. The window raises installerDone too
    // when the player closes it; only this tells a finished installation from a window closed
    // while the work went on.
    std::future<void> finished;

    bool hasFinished() const {
        return finished.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
};

// Starts contentInstallWorker(request) on a counted thread.
InstallerWorker startContentInstallWorker(ContentInstallRequest request);
