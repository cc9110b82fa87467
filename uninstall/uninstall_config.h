#pragma once
#include <string>

// The five settings uninstall mode reads; kept apart from LauncherConfig because "-u" runs
// before (and instead of) the launcher's own settings reading.
struct UninstallConfig {
    std::string appDisplayName = "Drift Moor";
    std::string appFolderName = "Driftmoor";
    std::string companyFolderName = "Quillmere";
    std::string previousExecutableName;
    std::string uninstallExitURL;
};

extern UninstallConfig uninstallConfig;

// Overwrites uninstallConfig from config.plist; an absent or non-string key keeps its value.
void loadUninstallConfig();
