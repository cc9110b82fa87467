#include "update/self_update.h"

#include "launcher/launcher_config.h"
#include "launcher/run_log.h"
#include "platform/standard_folders.h"
#include "update/download_and_launch.h"
#include "update/version_manifest.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool ensureFolder(const std::string& path) {
    std::error_code error;
    if (fs::exists(path, error)) {
        return true;
    }
    fs::create_directories(path, error);
    return !error;
}

} // namespace

int selfUpdateLauncher() {
    // Joined as text: the temporary directory already ends with "/", so the path holds "//".
    std::string folder = temporaryDirectory() + "/" + launcherConfig.appFolderName;
    if (!ensureFolder(folder)) {
        writeToLog("Failed to create temporary folder!");
        return 1;
    }
    const std::string& appDisplayName = launcherConfig.appDisplayName;
    const int result =
        performToFileCurlAndExecute(latestVersionInfo.LauncherInstallerDownloadUrl, folder,
                                    appDisplayName + ".zip", appDisplayName + ".app");
    if (result != 0) {
        writeToLog("Failed to curl and install from launcher");
    }
    return result;
}
