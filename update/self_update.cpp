#include "update/self_update.h"

#include "launcher/run_log.h"
#include "platform/file_presence.h"
#include "platform/private_folder.h"
#include "platform/standard_folders.h"
#include "update/application_names.h"
#include "update/download_and_launch.h"

int selfUpdateLauncher(const CheckedManifest& manifest, const std::string& appFolderName,
                       const std::string& appDisplayName, const TransferSettings& transfer) {
    if (!applicationNamesStayInside(appDisplayName)) {
        return 1;
    }
    const std::string temporary = temporaryDirectory();
    // Joined as text: the temporary directory already ends with "/", so the path holds "//".
    std::string folder = temporary + "/" + appFolderName;
    if (temporary.empty() || !createFolderWhenMissing(folder).empty()) {
        writeToLog("Failed to create temporary folder!");
        return 1;
    }
    // $TMPDIR may be shared: a folder another user made, linked or may write to could have
    // the installer swapped before it starts.
    if (const std::string problem = secureOwnFolder(folder); !problem.empty()) {
        writeToLog("Refusing temporary folder " + folder + ": " + problem);
        return 1;
    }
    const int result = performToFileCurlAndExecute(
        manifest.info.LauncherInstallerDownloadUrl, folder, appDisplayName + ".zip",
        appDisplayName + ".app",
        requiredArchiveSha256(manifest, manifest.signedValues.LauncherInstallerSha256), transfer);
    if (result != 0) {
        writeToLog("Failed to curl and install from launcher");
    }
    return result;
}
