#include "uninstall/running_application_stop.h"

#include "launcher/run_log.h"
#include "platform/running_applications.h"

#include <csignal>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The process list covers every user of the machine, where the desktop would only show this
// user's applications; another user's program of the same name is none of our business.
bool belongsToThisUser(pid_t process) {
    struct stat status {};
    const std::string folder = "/proc/" + std::to_string(process);
    return stat(folder.c_str(), &status) == 0 && status.st_uid == geteuid();
}

} // namespace

void stopRunningApplication(const std::string& name) {
    for (const RunningApplication& application : runningApplications()) {
        // The uninstaller itself may carry the game's name; stopping it would end the uninstall.
        // Only applications count, as on the desktop: a plain command that shares the name
        // (a shell, an editor) is never stopped.
        if (application.bundlePath.empty() || application.localizedName != name ||
            application.processIdentifier == getpid() ||
            !belongsToThisUser(application.processIdentifier)) {
            continue;
        }
        writeToLog("Stopping application: " + application.localizedName);
        kill(application.processIdentifier, SIGKILL);
        return;
    }
}
