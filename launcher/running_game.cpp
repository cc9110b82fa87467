#include "launcher/running_game.h"

#include "launcher/run_log.h"
#include "platform/application_bundle.h"
#include "platform/running_executable.h"

bool gameIsAlreadyRunning(const std::string& application) {
    const std::string executable = applicationExecutablePath(application);
    if (executable.empty()) {
        return false;
    }
    const auto process = processRunningExecutable(executable);
    if (!process) {
        return false;
    }
    writeToLog("The game is already running (process " + std::to_string(*process) +
               "); not starting it again and not updating it: " + application);
    return true;
}
