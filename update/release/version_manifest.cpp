#include "update/release/version_manifest.h"

#include <cstring>
#include <ini.h>
#include <iterator>

LatestVersionInfo latestVersionInfo;

int parseLatestVersionInfo(const std::string& text, LatestVersionInfo& info) {
    return ini_parse_string(text.c_str(), latestVersionKeyHandler, &info);
}

bool launcherUpdatesItself(const std::string& manifestLauncherVersion,
                           const std::string& installedLauncherVersion) {
    return manifestLauncherVersion != installedLauncherVersion;
}

int latestVersionKeyHandler(void* user, const char* section, const char* name, const char* value) {
    if (section[0] != '\0') {
        return 1;
    }
    auto& info = *static_cast<LatestVersionInfo*>(user);
    std::string* fields[] = {
        &info.ApplicationVersion,           &info.ApplicationDownloadUrl,
        &info.ApplicationExecutablePrefix,  &info.LauncherVersion,
        &info.LauncherInstallerDownloadUrl, &info.ApplicationDownloadMirrorUrls};
    const char* keys[] = {"ApplicationVersion",           "ApplicationDownloadUrl",
                          "ApplicationExecutablePrefix",  "LauncherVersion",
                          "LauncherInstallerDownloadUrl", "ApplicationDownloadMirrorUrls"};
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        if (std::strcmp(name, keys[i]) == 0) {
            *fields[i] = value;
        }
    }
    return 1;
}
