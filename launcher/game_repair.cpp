#include "launcher/game_repair.h"

#include "launcher/run_log.h"
#include "launcher/window_module.h"
#include "platform/application_bundle.h"
#include "platform/application_launch.h"

int startOrRepairInstalledGame(const std::string& application) {
    // A lost executable or a game that dies at once would fail on every start; installing the
    // release again is the player's only other way out.
    if (applicationExecutablePath(application).empty()) {
        writeToLog("The installed game has no executable to start, installing it again: " +
                   application);
        return runContentInstallerFromModule();
    }
    if (launchApplication(application) == 0) {
        return 0;
    }
    writeToLog("The installed game was not running right after its start, installing it again: " +
               application);
    return runContentInstallerFromModule();
}
