#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// A studio's settings for the launcher's bundle: what its config.plist and Info.plist must say
// for the launcher to find the studio's manifest, data folder, keys and game.
struct LauncherSettings {
    std::string appDisplayName;
    std::string latestVersionEndpoint;
    std::string companyFolderName;
    std::string appFolderName;
    std::string launcherVersion;
    // None: as the bundle's config.plist has it.
    std::optional<std::string> releaseSigningPublicKey = {};
    std::optional<std::int32_t> releaseSigningThreshold = {};
    std::optional<std::int32_t> startInstalledGameWhenOffline = {};
};

// Fills the settings not given from the config.plist at path, read by the launcher's own
// reader. False, with problem set, when that file is no property list.
bool completeFromConfig(LauncherSettings& settings, const std::string& path, std::string& problem);

// Why a launcher with these settings would refuse them, or never get on with its work: empty
// when it takes them. Every optional setting must be filled.
std::string launcherSettingsProblem(const LauncherSettings& settings);

// Writes the settings into bundle's Contents/Resources/config.plist (its other keys kept) and
// its names into Contents/Info.plist (CFBundleName, CFBundleDisplayName,
// CFBundleShortVersionString). False, with problem set, when a file cannot be read or written.
bool writeLauncherSettings(const std::filesystem::path& bundle, const LauncherSettings& settings,
                           std::string& problem);
