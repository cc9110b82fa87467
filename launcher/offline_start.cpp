#include "launcher/offline_start.h"

#include "launcher/launcher_config.h"
#include "launcher/run_log.h"
#include "launcher/running_game.h"
#include "platform/app_support_folder.h"
#include "platform/application_launch.h"
#include "platform/file_presence.h"
#include "platform/path_component.h"
#include "update/release/installed_version.h"

std::string installedGameBundleName(const std::string& dataFolder) {
    // Without a manifest the prefix is known only from the one installed last.
    const auto installed = readCurrentVersionIni(dataFolder);
    if (!installed) {
        return {};
    }
    const std::string name = installed->Get("", "ApplicationExecutablePrefix", "") +
                             launcherConfig.appDisplayName + ".app";
    return isSingleFolderName(name) ? name : std::string();
}

std::optional<int> startInstalledGameOffline(const std::string& dataFolder,
                                             ManifestFailure failure) {
    // A manifest that was refused (a key rotation this launcher missed, an expired or replayed
    // one) or that arrived unparsable (a captive portal's page, a 404 page) says nothing of what
    // is current: nothing of it is used, so it is no worse than no network. The installed game
    // was checked when it was installed.
    if (launcherConfig.startInstalledGameWhenOffline == 0 || failure == ManifestFailure::None) {
        return std::nullopt;
    }
    const std::string bundleName = installedGameBundleName(dataFolder);
    if (bundleName.empty()) {
        return std::nullopt;
    }
    const std::string application = appendPathComponent(dataFolder, bundleName);
    if (!fileExistsAtPath(application)) {
        return std::nullopt;
    }
    if (failure != ManifestFailure::Transfer) {
        writeToLog("The manifest was not accepted: starting the installed game as without a "
                   "network");
    }
    if (gameIsAlreadyRunning(application)) {
        return 0;
    }
    if (launchApplication(application) != 0) {
        writeToLog("The installed game could not be started without checking for updates: " +
                   application);
        return 1;
    }
    writeToLog("Started the installed game without checking for updates: " + application);
    return 0;
}
