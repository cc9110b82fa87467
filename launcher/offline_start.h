#pragma once
#include "update/manifest_check.h"

#include <optional>
#include <string>

// When startInstalledGameWhenOffline is on, no manifest was accepted (failure: no transfer, one
// that could not be parsed, or one refused for its signatures, serial, key or expiry) and a game
// is installed in dataFolder: starts it unchecked and returns the start's status (0 when it
// runs). None when offline play does not apply and the run ends as before.
std::optional<int> startInstalledGameOffline(const std::string& dataFolder,
                                             ManifestFailure failure);

// The installed game's bundle as the last installed manifest (CurrentVersion.ini) named it;
// empty when that name would not stay inside dataFolder.
std::string installedGameBundleName(const std::string& dataFolder);
