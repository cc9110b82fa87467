#pragma once
#include <optional>
#include <string>

// The data folder's path once createAppSupportFolder has found or made it; empty before.
extern std::string appSupportFolder;

// Finds or creates <Application Support>/companyFolderName/appFolderName. None (after a
// platform log line) when a level cannot be created or a name would leave that folder.
std::optional<std::string> createAppSupportFolder(const std::string& companyFolderName,
                                                  const std::string& appFolderName);

// A name that stays one level down: not empty, not "." or "..", no "/".
bool isSingleFolderName(const std::string& name);
