#pragma once
#include <string>

// Removes the data folder recorded in appSupportFolder with everything in it: 0 when nothing
// was there or it is gone, 1 when the removal failed or was refused (one log line then).
int removeUserDataFolder();

// Whether folder is exactly applicationSupport/company/app with both names single folder
// names and applicationSupport an absolute path: the only folder uninstall mode may delete.
bool isRemovableDataFolder(const std::string& folder, const std::string& applicationSupport,
                           const std::string& company, const std::string& app);
