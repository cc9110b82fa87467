#include "launcher/previous_install.h"

#include "launcher/launcher_config.h"
#include "platform/application_launch.h"

void launchPreviousInstallUninstaller() {
    const std::string path = launcherConfig.previousInstallPath + "/" +
                             launcherConfig.previousInstallCompanyFolderName + "/" +
                             launcherConfig.previousInstallAppFolderName;
    launchApplicationWithArguments(path, {"-u"});
}
