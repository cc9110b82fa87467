#pragma once
#include "update/manifest_check.h"

#include <atomic>
#include <cstdint>
#include <string>

// The worker's result (0 success, 1 failure), final once installerDone reads true with acquire
// ordering.
extern std::atomic<std::int32_t> installerResult;
// Raised by the worker as its last act on every path, and by the installer window when the user
// closes it.
extern std::atomic<bool> installerDone;
// Raised by the worker alone, just before installerDone: tells a finished installation from a
// window that was closed while the work went on.
extern std::atomic<bool> installerWorkerFinished;

// What the content installer hands its worker: the manifest it accepted and where the game goes.
struct ContentInstallRequest {
    CheckedManifest manifest;
    // The setting: the archive is saved as appDisplayName + ".zip", the game's bundle is the
    // manifest's ApplicationExecutablePrefix + appDisplayName + ".app".
    std::string appDisplayName;
    std::string dataFolder;
};

// Thread body of the content installer: downloads, unpacks and starts the game in the data
// folder, then records the installed version once the game runs. The old record goes before
// anything is downloaded, so that an installation that does not complete is never taken for an
// installed version.
void contentInstallWorker(const ContentInstallRequest& request);
