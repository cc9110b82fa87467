#include "uninstall/uninstall_config.h"

#include "launcher/launcher_config.h"

UninstallConfig uninstallConfig;

namespace {

// Each key with the field it fills, in the order they are read.
constexpr struct {
    const char* key;
    std::string UninstallConfig::*field;
} uninstallKeys[] = {
    {"appDisplayName", &UninstallConfig::appDisplayName},
    {"appFolderName", &UninstallConfig::appFolderName},
    {"companyFolderName", &UninstallConfig::companyFolderName},
    {"previousExecutableName", &UninstallConfig::previousExecutableName},
    {"uninstallExitURL", &UninstallConfig::uninstallExitURL},
};

} // namespace

void loadUninstallConfig() {
    const ConfigFile file = openConfigFile(configFilePath());
    for (const auto& [key, field] : uninstallKeys) {
        readConfigString(file, key, uninstallConfig.*field);
    }
}
