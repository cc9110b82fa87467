#include "ui/content_installer.h"

#include "launcher/launcher_config.h"
#include "launcher/launcher_flow.h"
#include "launcher/previous_install.h"
#include "launcher/run_log.h"
#include "launcher/transfer_settings.h"
#include "launcher/work_threads.h"
#include "platform/app_support_folder.h"
#include "ui/asset_path.h"
#include "ui/install_failed_notice.h"
#include "ui/installer_animation.h"
#include "ui/installer_window.h"
#include "ui/sdl_error.h"
#include "ui/sdl_resources.h"
#include "ui/splash_session.h"
#include "update/background_manifest_fetch.h"
#include "update/content_install_worker.h"
#include "update/release/installed_version.h"
#include "update/release/version_manifest.h"

#include <cstdio>
#include <optional>
#include <thread>

namespace {

std::thread previousInstallThread;

void logInstallerConfig() {
    const LauncherConfig& c = launcherConfig;
    writeToLog("Config loaded from config.plist: latestVersionEndpoint=" + c.latestVersionEndpoint +
               ", companyFolderName=" + c.companyFolderName + ", appFolderName=" + c.appFolderName +
               ", appDisplayName=" + c.appDisplayName +
               ", previousInstallPath=" + c.previousInstallPath +
               ", previousInstallCompanyFolderName=" + c.previousInstallCompanyFolderName +
               ", previousInstallAppFolderName=" + c.previousInstallAppFolderName);
}

SDL_Color installerTextColour() {
    const LauncherConfig& c = launcherConfig;
    return SDL_Color{c.contentInstallerFontColorR, c.contentInstallerFontColorG,
                     c.contentInstallerFontColorB, 0};
}

// The manifest with its raw text. A splash still on the screen goes on drawing meanwhile; none
// also when the player closes it.
std::optional<CheckedManifest> fetchManifestWithText(const std::string& url,
                                                     const ReleaseTrust& trust,
                                                     const TransferSettings& transfer) {
    const auto fetch = startManifestFetch(url, trust, transfer);
    showSplashUntil(fetch->finished);
    if (splashIsOpen() && launcherDone) {
        writeToLog(splashClosedMessage);
        return std::nullopt;
    }
    waitForManifestFetch(*fetch);
    if (fetch->result.status != 0) {
        writeToLog("cannot get latest version info");
        logManifestHttpStatus(fetch->result);
        return std::nullopt;
    }
    latestVersionInfo = fetch->result.info;
    latestVersionText = fetch->result.text;
    return fetch->result;
}

// A close request raises installerDone too; nothing was installed unless the worker said so.
int workerOutcome(const InstallerWorker& worker) {
    if (!worker.hasFinished()) {
        writeToLog("The installer window was closed before the installation finished");
        return 1;
    }
    return installerResult.load(std::memory_order_acquire);
}

} // namespace

int runContentInstaller() {
    loadContentInstallerConfig();
    const LauncherConfig& c = launcherConfig;
    const auto folder = createAppSupportFolder(c.companyFolderName, c.appFolderName);
    if (!folder) {
        std::fputs("The content installer's data folder could not be created; see the line "
                   "above.\n",
                   stderr);
        return 1;
    }
    setupLogFile(*folder);
    logConfigProblems();
    logInstallerConfig();

    const TransferSettings transfer = configuredTransferSettings(c);
    const auto manifest = fetchManifestWithText(
        c.latestVersionEndpoint, {c.releaseSigningPublicKey, *folder, c.releaseSigningThreshold},
        transfer);
    if (!manifest) {
        return 1;
    }
    if (openInstallerWindow(c.appDisplayName) != 0) {
        return 1;
    }
    // The installer window is up: the splash it replaces can go without a moment of neither.
    closeSplash();
    if (!c.previousInstallPath.empty()) {
        previousInstallThread = startCountedThread(launchPreviousInstallUninstaller);
    }
    InstallerWorker worker =
        startContentInstallWorker({*manifest, c.appDisplayName, *folder, transfer});

    FontHandle font(
        openAssetFont(c.contentInstallerFontFileName, c.contentInstallerFontPointSizeOrIndex));
    if (!font) {
        logSdlError("TTF_OpenFont");
    }
    const SDL_Color colour = installerTextColour();
    InstallerAnimation installerGif;
    if (!installerDone.load(std::memory_order_acquire)) {
        runInstallerAnimation(installerGif, font.get(), colour);
    }
    showInstallFailedNotice(installerGif, font.get(), colour, c.installFailedText);

    installerGif.image.reset();
    font.reset();
    TTF_Quit();
    if (previousInstallThread.joinable()) {
        previousInstallThread.detach();
    }
    worker.thread.detach();
    closeInstallerWindow();
    return workerOutcome(worker);
}
