#include "uninstall/uninstaller.h"

#include "launcher/command_line.h"
#include "launcher/launcher_config.h"
#include "launcher/run_log.h"
#include "launcher/window_module.h"
#include "platform/app_support_folder.h"
#include "uninstall/exit_page.h"
#include "uninstall/running_application_stop.h"
#include "uninstall/uninstall_config.h"
#include "uninstall/user_data_removal.h"

namespace {

void logUninstallConfig(const UninstallConfig& c) {
    writeToLog("Config loaded from Info.plist: appDisplayName=" + c.appDisplayName +
               ", appFolderName=" + c.appFolderName + ", companyFolderName=" + c.companyFolderName +
               ", previousExecutableName=" + c.previousExecutableName +
               ", uninstallExitURL=" + c.uninstallExitURL);
}

void stopGames(const UninstallConfig& c) {
    stopRunningApplication(c.appDisplayName);
    if (!c.previousExecutableName.empty() && c.previousExecutableName != c.appDisplayName) {
        stopRunningApplication(c.previousExecutableName);
    }
}

// The uninstall window, closed on every way out of the run.
struct ShownUninstallWindow {
    const WindowEntries* windows = nullptr;
    ShownUninstallWindow() = default;
    ShownUninstallWindow(const ShownUninstallWindow&) = delete;
    ShownUninstallWindow& operator=(const ShownUninstallWindow&) = delete;
    ~ShownUninstallWindow() {
        if (windows != nullptr) {
            windows->closeUninstallWindow();
        }
    }
};

} // namespace

bool asksForSilence(int argc, char** argv) {
    return hasExactArgument(argc, argv, "-s");
}

int runUninstaller(int argc, char** argv) {
    const bool silent = asksForSilence(argc, argv);
    loadUninstallConfig();
    const UninstallConfig& config = uninstallConfig;

    // Without a data folder there is no place for the run log and nothing that may be removed;
    // createAppSupportFolder has already said why on the platform log.
    const auto dataFolder = createAppSupportFolder(config.companyFolderName, config.appFolderName);
    if (!dataFolder) {
        return 1;
    }
    appSupportFolder = *dataFolder;
    // Uninstalling is how a player gets out of a broken install; a log that cannot be set up
    // must not stop it.
    if (!setupLogFile(*dataFolder)) {
        useStandardErrorWithoutLog();
        writeToLog("Cannot set up the run log in " + *dataFolder +
                   "; messages go to standard error");
    }
    logConfigProblems();
    logUninstallConfig(config);

    ShownUninstallWindow window;
    if (!silent) {
        const WindowEntries* windows = windowModule();
        if (windows == nullptr || !windows->openUninstallWindow(config.appDisplayName)) {
            return 1;
        }
        window.windows = windows;
    }
    stopGames(config);
    const int result = removeUserDataFolder();
    if (silent) {
        return result;
    }
    if (!config.uninstallExitURL.empty()) {
        openExitPage(config.uninstallExitURL);
    }
    return result;
}
