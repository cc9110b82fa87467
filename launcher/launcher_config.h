#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/property_list.h"

struct LauncherConfig {
    std::string latestVersionEndpoint =
        "http://updates.quillmere.example/divodazuradedadu/win32/LatestVersion.ini";
    std::string launcherVersion;
    std::string companyFolderName = "Quillmere";
    std::string appFolderName = "Driftmoor";
    std::string appDisplayName = "Drift Moor";
    // Base64 of the publisher's Ed25519 public key; empty: releases are not checked.
    std::string releaseSigningPublicKey;
    // Not 0: every HTTPS transfer verifies the server's certificate chain and host name.
    std::int32_t verifyServerCertificates = 0;

    std::int32_t launcherImageWidth = 300;
    std::int32_t launcherImageHeight = 250;
    std::string checkingForUpdatesText = "CHECKING FOR UPDATES";
    std::string launcherFontFileName = "Tiki Island.ttf";
    std::int32_t launcherFontPointSizeOrIndex = 0;
    std::int32_t launcherFontColorR = 0;
    std::int32_t launcherFontColorG = 0;
    std::int32_t launcherFontColorB = 0;
    std::int32_t launcherDisplayTextX = 0;
    std::int32_t launcherDisplayTextY = 0;
    std::int32_t launcherDisplayTextWidth = 0;
    std::int32_t launcherDisplayTextHeight = 0;
    // Not 0: without a network the installed game is started unchecked rather than not at all.
    std::int32_t startInstalledGameWhenOffline = 0;

    std::int32_t contentInstallerImageWidth = 430;
    std::int32_t contentInstallerImageHeight = 389;
    std::string contentInstallerFontFileName = "Tiki Island.ttf";
    std::int32_t contentInstallerFontPointSizeOrIndex = 25;
    std::uint8_t contentInstallerFontColorR = 255;
    std::uint8_t contentInstallerFontColorG = 255;
    std::uint8_t contentInstallerFontColorB = 255;
    std::int32_t contentInstallerPercentDisplayTextX = 395;
    std::int32_t contentInstallerPercentDisplayTextY = 360;
    std::int32_t contentInstallerPercentDisplayTextWidth = 15;
    std::int32_t contentInstallerPercentDisplayTextHeight = 15;
    std::string previousInstallPath;
    std::string previousInstallCompanyFolderName;
    std::string previousInstallAppFolderName;
    // Shown by the installer window when the install failed, in the player's language; empty
    // closes the window at once.
    std::string installFailedText;
};

extern LauncherConfig launcherConfig;

// Two-letter (at most) code of the user's first preferred language; "en" when there is none.
std::string preferredLanguageCode();

// Fills the launcher group of launcherConfig from config.plist. Logs nothing: the run log does
// not exist yet. What could not be read is kept for logConfigProblems.
void loadLauncherConfig(const std::string& languageCode);

// Fills the content installer's group and the four shared strings from config.plist.
void loadContentInstallerConfig();

// The same readings from a given file.
void loadLauncherConfigFrom(const std::string& path, const std::string& languageCode);
void loadContentInstallerConfigFrom(const std::string& path,
                                    const std::string& languageCode = preferredLanguageCode());

// The code for a preferred-languages list: its first entry's first two bytes, else "en".
std::string languageCodeFor(const std::vector<std::string>& languages);

// Writes one run-log line per problem met while reading config.plist, then forgets them.
void logConfigProblems();

// config.plist opened for one reading; readers note what they could not use.
struct ConfigFile {
    std::optional<PropertyList> dictionary;
    std::vector<std::string>* problems = nullptr;
};

std::string configFilePath();
ConfigFile openConfigFile(const std::string& path);
// A string key replaces field only when it holds a string; another kind is noted as a problem.
void readConfigString(const ConfigFile& file, const std::string& key, std::string& field);
// An integer key reads as 0 when absent; a kind without an integer reading is noted and reads 0.
std::int32_t readConfigInt(const ConfigFile& file, const std::string& key);

// Settings problems waiting for the run log.
extern std::vector<std::string> configProblems;
