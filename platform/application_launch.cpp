#include "platform/application_launch.h"

#include "platform/application_bundle.h"
#include "platform/process_start.h"

int launchApplicationWithArguments(const std::string& application,
                                   const std::vector<std::string>& arguments) {
    const std::string executable = applicationExecutablePath(application);
    if (executable.empty()) {
        return 1;
    }
    const auto child = startDetachedProcess(executable, arguments);
    if (!child) {
        return 1;
    }
    return childIsRunning(*child) ? 0 : 1;
}

int launchApplication(const std::string& application) {
    return launchApplicationWithArguments(application, {});
}
