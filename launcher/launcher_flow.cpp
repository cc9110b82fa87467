#include "launcher/launcher_flow.h"

#include "launcher/command_line.h"
#include "launcher/game_repair.h"
#include "launcher/launcher_config.h"
#include "launcher/offline_start.h"
#include "launcher/rollout_gate.h"
#include "launcher/run_log.h"
#include "launcher/run_preparation.h"
#include "launcher/running_game.h"
#include "launcher/transfer_settings.h"
#include "launcher/window_module.h"
#include "platform/app_support_folder.h"
#include "platform/file_presence.h"
#include "platform/folder_containment.h"
#include "platform/main_bundle.h"
#include "platform/path_component.h"
#include "uninstall/uninstaller.h"
#include "update/application_names.h"
#include "update/background_manifest_fetch.h"
#include "update/manifest_check.h"
#include "update/release/installed_version.h"
#include "update/release/release_signature.h"
#include "update/release/version_manifest.h"
#include "update/self_update.h"

#include <chrono>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

int launcherResult = 0;
bool launcherDone = false;

namespace {

// A self-update leaves its installer in the temporary folder; once the launcher is current
// that copy has served its purpose.
void removeLeftoverSelfUpdateFolder(const std::string& temporaryFolder) {
    const std::string& name = launcherConfig.appFolderName;
    if (temporaryFolder.empty()) {
        return; // no private temporary folder, so no self-update can have left anything there
    }
    if (!isSingleFolderName(name)) {
        writeToLog("Not removing a leftover self-update folder: appFolderName '" + name +
                   "' is not a single folder name");
        return;
    }
    const std::string path = temporaryFolder + "/" + name;
    if (!fileExistsAtPath(path)) {
        return;
    }
    // A self-updated launcher that did not move into the Applications folder runs from in there:
    // removing its own bundle would take its window module with it.
    if (folderHoldsPath(path, executablePath())) {
        writeToLog("Not removing the leftover self-update folder " + path +
                   ": the running launcher is inside it");
        return;
    }
    std::error_code error;
    fs::remove_all(path, error);
    if (error) {
        writeToLog("ERROR! Unable to remove folder at " + path + ": " + error.message());
    }
}

std::string contentApplicationPath() {
    const std::string bundleName =
        latestVersionInfo.ApplicationExecutablePrefix + launcherConfig.appDisplayName + ".app";
    return appendPathComponent(appSupportFolder, bundleName);
}

// A check that ends within this time shows no window at all.
constexpr std::chrono::milliseconds splashDelay{250};

// Waits for the manifest; when it is slow, the splash shows until it has come. False when the
// player closed the splash meanwhile. A splash that cannot be shown is only logged.
bool waitForManifestWithSplash(ManifestFetch& fetch) {
    if (waitForManifestFetch(fetch, splashDelay)) {
        return true;
    }
    const WindowEntries* windows = windowModule();
    if (windows != nullptr && windows->openSplash()) {
        windows->showSplashUntil(fetch.finished);
        if (launcherDone) {
            writeToLog(splashClosedMessage);
            return false;
        }
    }
    waitForManifestFetch(fetch);
    return true;
}

} // namespace

bool asksForUninstall(int argc, char** argv) {
    return hasExactArgument(argc, argv, "-u");
}

int launchOrUpdateContent(const std::string& latestIndexSha256,
                          const std::string& installedIndexSha256, const Rollout& rollout) {
    const LatestVersionInfo& latest = latestVersionInfo;
    writeToLog("comparing latest endpoint version: " + latest.ApplicationVersion +
               " to app CurrentVersion appVersion: " + currentAppVersion);
    int result = 0;
    const bool sameIndex = latestIndexSha256.empty() || latestIndexSha256 == installedIndexSha256;
    const bool current = latest.ApplicationVersion == currentAppVersion && sameIndex;
    // A player the rollout has not reached yet plays on as if the installed release were current.
    if (current || staysOnInstalledRelease(appSupportFolder, rollout, latest.ApplicationVersion,
                                           currentAppVersion)) {
        // Gone before the game's window can appear; the launcher ends right after the start.
        closeSplashIfShown();
        result = startOrRepairInstalledGame(contentApplicationPath());
    } else if (latest.ApplicationVersion == currentAppVersion) {
        writeToLog("Current release index:" +
                   (installedIndexSha256.empty() ? std::string("(none)") : installedIndexSha256) +
                   " is different than latest:" + latestIndexSha256 +
                   "\nStarting content installer...");
        result = runContentInstallerFromModule();
    } else {
        writeToLog("Current appVersion:" + currentAppVersion + " is different than latest:" +
                   latest.ApplicationVersion + "\nStarting content installer...");
        result = runContentInstallerFromModule();
    }
    launcherResult = result;
    launcherDone = true;
    return result;
}

namespace {

// The content step once the manifest has been accepted and the launcher is current: the
// installer when the game or its record is missing, else the installed game or its update.
int takeTheContentRoad(const std::string& dataFolder, const CheckedManifest& manifest) {
    const LauncherConfig& config = launcherConfig;
    if (!applicationNamesStayInside(config.appDisplayName,
                                    latestVersionInfo.ApplicationExecutablePrefix)) {
        return 1;
    }
    if (gameIsAlreadyRunning(contentApplicationPath())) {
        return 0;
    }

    // Read, and a malformed value logged, whatever the road: a new player installs in any case.
    const Rollout rollout = acceptedRollout(manifest);
    const bool contentPresent = fileExistsAtPath(contentApplicationPath());
    const bool versionRecorded = fileExistsAtPath(dataFolder + "/CurrentVersion.ini");
    if (!contentPresent || !versionRecorded) {
        return runContentInstallerFromModule();
    }
    if (!loadCurrentVersionIni(dataFolder)) {
        writeToLog("Can't load CurrentVersion.ini from '" + dataFolder + "'");
        return 1;
    }
    writeToLog("CurrentVersion.ini loaded from '" + dataFolder +
               "': appVersion=" + currentAppVersion);
    return launchOrUpdateContent(readSignedReleaseValues(manifest.text).ApplicationIndexSha256,
                                 installedIndexSha256(dataFolder), rollout);
}

// The manifest decides the road: the installed game unchecked (offline), the self-update, or
// the content step.
int takeTheRoad(const PreparedRun& run) {
    const LauncherConfig& config = launcherConfig;
    // Whatever way the run ends from here, no splash outlives it.
    const SplashCloser splashCloser;
    const TransferSettings transfer = configuredTransferSettings(config);
    const auto fetch = startManifestFetch(
        config.latestVersionEndpoint,
        {config.releaseSigningPublicKey, run.dataFolder, config.releaseSigningThreshold}, transfer);
    if (!waitForManifestWithSplash(*fetch)) {
        return 1;
    }
    const CheckedManifest& manifest = fetch->result;
    launcherResult = manifest.status;
    latestVersionInfo = manifest.info;
    if (launcherResult != 0) {
        writeToLog("Error getting or parsing LatestVersion.ini! latestVersionEndpointURL:" +
                   config.latestVersionEndpoint);
        logManifestHttpStatus(manifest);
        closeSplashIfShown(); // gone before an installed game's window can appear
        return startInstalledGameOffline(run.dataFolder, manifest.failure).value_or(1);
    }
    writeToLog("comparing endpoint launcher version:" + latestVersionInfo.LauncherVersion +
               " to config installer version:" + config.launcherVersion + "...");
    if (launcherUpdatesItself(latestVersionInfo.LauncherVersion, config.launcherVersion)) {
        closeSplashIfShown(); // the new launcher shows windows of its own
        launcherResult =
            selfUpdateLauncher(manifest, config.appFolderName, config.appDisplayName, transfer);
        if (launcherResult == 0) {
            return launcherResult;
        }
        // An installer not uploaded yet, or refused, must not lock the player out of the game
        // this launcher can still install and start. Its folder is left for a later run to clear.
        writeToLog(selfUpdateFailedMessage);
        return takeTheContentRoad(run.dataFolder, manifest);
    }
    removeLeftoverSelfUpdateFolder(run.temporaryFolder);
    return takeTheContentRoad(run.dataFolder, manifest);
}

} // namespace

int launcherMain(int argc, char** argv) {
    if (asksForUninstall(argc, argv)) {
        return runUninstaller(argc, argv);
    }
    const PreparedRun run = prepareRun();
    if (run.exitStatus) {
        return *run.exitStatus;
    }
    return takeTheRoad(run);
}
