#pragma once
#include <optional>
#include <string>
#include <vector>

// The keys a launcher installer trusts: releaseSigningPublicKey of the config.plist in its
// bundle (<appDisplayName>.app/Contents/Resources/config.plist), as the launcher splits the list.
struct InstallerKeys {
    std::string bundle; // the bundle's folder in the archive, such as "Drift Moor.app"
    std::vector<std::string> keys;
};

// Reads them from the installer archive at path; workFolder takes the settings file while it is
// read. None, with problem set, when the archive holds no such bundle or its settings cannot be
// read.
std::optional<InstallerKeys> readInstallerKeys(const std::string& archivePath,
                                               const std::string& workFolder, std::string& problem);
