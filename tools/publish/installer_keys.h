#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the launcher in an installer checks a manifest by: the config.plist in its bundle
// (<appDisplayName>.app/Contents/Resources/config.plist), read as the launcher reads it.
struct InstallerKeys {
    std::string bundle;            // the bundle's folder in the archive, such as "Drift Moor.app"
    std::vector<std::string> keys; // releaseSigningPublicKey as the launcher splits the list
    std::string keyList;           // releaseSigningPublicKey whole; empty: it checks nothing
    std::int32_t threshold = 0;    // releaseSigningThreshold
    std::string launcherVersion;   // empty when it names none, as the launcher then has it
};

// Reads them from the installer archive at path. None, with problem set, when the archive holds
// no such bundle or its settings cannot be read.
std::optional<InstallerKeys> readInstallerKeys(const std::string& archivePath,
                                               std::string& problem);
