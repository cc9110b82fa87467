#pragma once
#include <string>

// The values of LatestVersion.ini, byte strings as the manifest gives them.
struct LatestVersionInfo {
    std::string ApplicationVersion;
    std::string ApplicationDownloadUrl;
    std::string ApplicationExecutablePrefix;
    std::string LauncherVersion;
    std::string LauncherInstallerDownloadUrl;
    // Further places of the same content archive, separated by blanks; optional.
    std::string ApplicationDownloadMirrorUrls;
};

// The manifest the launcher goes by: the flow's check fills it, the content installer's check
// refreshes it.
extern LatestVersionInfo latestVersionInfo;

// Parses text, up to its first NUL, over info: a key the text lacks keeps its value. 0, or the
// number of the first malformed line (the line kept in 199-byte pieces).
int parseLatestVersionInfo(const std::string& text, LatestVersionInfo& info);

// Whether a launcher whose config.plist names installedLauncherVersion updates itself to a
// manifest's LauncherVersion: on any difference of bytes, so that a release can also go back.
bool launcherUpdatesItself(const std::string& manifestLauncherVersion,
                           const std::string& installedLauncherVersion);

// inih's key handler for the manifest: top-level keys only, the names above exactly. Returns 1
// always, so that no line is malformed on its account.
int latestVersionKeyHandler(void* info, const char* section, const char* name, const char* value);
