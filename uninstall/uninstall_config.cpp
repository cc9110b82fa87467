#include "uninstall/uninstall_config.h"

#include "launcher/launcher_config.h"

UninstallConfig uninstallConfig;

void loadUninstallConfig() {
    const ConfigFile file = openConfigFile(configFilePath());
    UninstallConfig& c = uninstallConfig;
    readConfigString(file, "appDisplayName", c.appDisplayName);
    readConfigString(file, "appFolderName", c.appFolderName);
    readConfigString(file, "companyFolderName", c.companyFolderName);
    readConfigString(file, "previousExecutableName", c.previousExecutableName);
    readConfigString(file, "uninstallExitURL", c.uninstallExitURL);
}
