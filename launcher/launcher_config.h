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
    // Base64 of the publisher's Ed25519 public key, or several separated by commas (while
    // players move to a new key); empty: releases are not checked.
    std::string releaseSigningPublicKey;
    // How many different keys of releaseSigningPublicKey must have signed a manifest; 0 and 1
    // both mean one.
    std::int32_t releaseSigningThreshold = 0;
    // Not 0: every HTTPS transfer verifies the server's certificate chain and host name.
    std::int32_t verifyServerCertificates = 0;
    // How many range requests fetch a release's entries at once; 0 and 1 both mean one.
    std::int32_t contentTransferConnections = 0;

    // The splash: its size, its text (in the player's language) and the text's font, colour
    // and box, a value pair or triple to a line.
    std::int32_t launcherImageWidth = 300, launcherImageHeight = 250;
    std::string checkingForUpdatesText = "CHECKING FOR UPDATES";
    std::string launcherFontFileName = "Tiki Island.ttf";
    std::int32_t launcherFontPointSizeOrIndex = 0;
    std::int32_t launcherFontColorR = 0, launcherFontColorG = 0, launcherFontColorB = 0;
    std::int32_t launcherDisplayTextX = 0, launcherDisplayTextY = 0;
    std::int32_t launcherDisplayTextWidth = 0, launcherDisplayTextHeight = 0;
    // Not 0: without a network the installed game is started unchecked rather than not at all.
    std::int32_t startInstalledGameWhenOffline = 0;

    // The content installer's window: its size, and the percentage's font, colour (read as
    // integers and kept to their low byte) and box.
    std::int32_t contentInstallerImageWidth = 430, contentInstallerImageHeight = 389;
    std::string contentInstallerFontFileName = "Tiki Island.ttf";
    std::int32_t contentInstallerFontPointSizeOrIndex = 25;
    std::uint8_t contentInstallerFontColorR = 255, contentInstallerFontColorG = 255,
                 contentInstallerFontColorB = 255;
    std::int32_t contentInstallerPercentDisplayTextX = 395,
                 contentInstallerPercentDisplayTextY = 360;
    std::int32_t contentInstallerPercentDisplayTextWidth = 15,
                 contentInstallerPercentDisplayTextHeight = 15;
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
// releaseSigningPublicKey as the launcher checks manifests by it; a value that is no string
// reads as a list no key decodes from.
void readConfigSigningKey(const ConfigFile& file, std::string& field);

// Settings problems waiting for the run log.
extern std::vector<std::string> configProblems;
