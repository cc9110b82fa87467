#include "launcher/run_preparation.h"

#include "launcher/launcher_config.h"
#include "launcher/run_lock.h"
#include "launcher/run_log.h"
#include "platform/app_support_folder.h"
#include "platform/main_bundle.h"
#include "platform/standard_folders.h"
#include "relocation/app_relocator.h"
#include "update/stage/staged_commit.h"

#include <cstdio>

namespace {

bool runsFromTemporaryPlace(const std::string& bundlePath, const std::string& temporaryFolder) {
    // The private folder may lie elsewhere; a bundle under $TMPDIR or /tmp is temporary too.
    for (const std::string& prefix :
         {temporaryFolder, sharedTemporaryDirectory(), std::string("/private/var/folders"),
          std::string("/Volumes/")}) {
        if (!prefix.empty() && bundlePath.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

// Taken before anything is written or fetched: a second launcher on the same folder (a double
// click) would truncate the first one's archive and start the game twice. Sets up the run log.
// The exit status when the run ends here.
std::optional<int> lockAndSetUpLog(const std::string& dataFolder) {
    std::string lockProblem;
    const RunLock lock = takeRunLock(dataFolder, lockProblem);
    setupLogFile(dataFolder);
    if (lock == RunLock::HeldElsewhere) {
        writeToLog("Another launcher is already running for " + dataFolder +
                   "; leaving the work to it");
        return 0;
    }
    if (lock == RunLock::Unavailable) {
        writeToLog("Cannot take the run lock " + lockProblem + "; going on without it");
    }
    return std::nullopt;
}

void logLauncherConfig(const LauncherConfig& config, const std::string& resourcePath) {
    writeToLog("mainBundle resourcePath:" + resourcePath);
    writeToLog("Config loaded from config.plist: latestVersionEndpoint=" +
               config.latestVersionEndpoint + ", launcherVersion=" + config.launcherVersion +
               ", companyFolderName=" + config.companyFolderName + ", appFolderName=" +
               config.appFolderName + ", appDisplayName=" + config.appDisplayName);
}

} // namespace

PreparedRun prepareRun() {
    PreparedRun run;
    run.temporaryFolder = temporaryDirectory();
    if (runsFromTemporaryPlace(mainBundlePath(), run.temporaryFolder)) {
        relocateToApplicationsFolder();
    }
    loadLauncherConfig(preferredLanguageCode());
    const std::string resourcePath = mainBundleResourcePath();
    const LauncherConfig& config = launcherConfig;
    const auto dataFolder = createAppSupportFolder(config.companyFolderName, config.appFolderName);
    if (!dataFolder) {
        std::fputs("The launcher's data folder could not be created; see the line above.\n",
                   stderr);
        run.exitStatus = 1;
        return run;
    }
    run.dataFolder = *dataFolder;
    run.exitStatus = lockAndSetUpLog(run.dataFolder);
    if (run.exitStatus) {
        return run;
    }
    logConfigProblems();
    logLauncherConfig(config, resourcePath);
    // An update killed during its commit is finished before anything looks at the installed
    // game, offline play included: otherwise the game would be a mixture of two releases.
    finishLeftCommit(run.dataFolder);
    return run;
}
