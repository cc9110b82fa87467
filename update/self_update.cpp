#include "update/self_update.h"

#include "launcher/launcher_config.h"
#include "launcher/run_log.h"
#include "platform/file_presence.h"
#include "platform/standard_folders.h"
#include "update/download_and_launch.h"
#include "update/manifest_trust.h"
#include "update/version_manifest.h"

int selfUpdateLauncher() {
    // Joined as text: the temporary directory already ends with "/", so the path holds "//".
    std::string folder = temporaryDirectory() + "/" + launcherConfig.appFolderName;
    if (!createFolderWhenMissing(folder).empty()) {
        writeToLog("Failed to create temporary folder!");
        return 1;
    }
    const std::string& appDisplayName = launcherConfig.appDisplayName;
    const int result = performToFileCurlAndExecute(
        latestVersionInfo.LauncherInstallerDownloadUrl, folder, appDisplayName + ".zip",
        appDisplayName + ".app", requiredArchiveSha256(acceptedRelease.LauncherInstallerSha256));
    if (result != 0) {
        writeToLog("Failed to curl and install from launcher");
    }
    return result;
}
