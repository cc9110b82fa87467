#include "update/content_install_worker.h"

#include "launcher/run_log.h"
#include "launcher/work_threads.h"
#include "update/application_names.h"
#include "update/archive_places.h"
#include "update/download_and_launch.h"
#include "update/entry_stream_install.h"
#include "update/stage/staged_commit.h"
#include "update/whole_archive_install.h"

#include <exception>
#include <memory>
#include <string>

std::atomic<std::int32_t> installerResult{0};
std::atomic<bool> installerDone{false};

namespace {

// Brings the release into folder, answering only whether it is installed. Fetching only what
// changed needs a server that serves ranges; without, the whole archive is fetched. Either road
// stages the release beside the installed game and commits it at once: until then the old
// version, its CurrentVersion.ini and the other records stay whole, and offline play starts it.
bool installRelease(const CheckedManifest& manifest, const std::string& folder,
                    const std::string& archiveName, const std::string& bundleName,
                    const TransferSettings& transfer) {
    const std::vector<std::string> places = archivePlaces(manifest);
    const std::vector<std::string> mirrors(places.begin() + 1, places.end());
    const SignedReleaseValues& signedValues = manifest.signedValues;
    const EntryWiseInstall entryWise = installContentEntryWise(
        places.front(), folder, archiveName, bundleName,
        requiredArchiveSha256(manifest, signedValues.ApplicationIndexSha256), transfer,
        manifest.text, mirrors);
    if (entryWise != EntryWiseInstall::NotPossible) {
        return entryWise == EntryWiseInstall::Installed;
    }
    return installContentWholeArchive(
        places, folder, archiveName, bundleName,
        requiredArchiveSha256(manifest, signedValues.ApplicationSha256), transfer, manifest.text);
}

int installContent(const ContentInstallRequest& request) {
    const CheckedManifest& manifest = request.manifest;
    const std::string& prefix = manifest.info.ApplicationExecutablePrefix;
    const std::string& appDisplayName = request.appDisplayName;
    if (!applicationNamesStayInside(appDisplayName, prefix)) {
        return 1;
    }
    const std::string bundleName = prefix + appDisplayName + ".app";
    if (!installRelease(manifest, request.dataFolder, appDisplayName + ".zip", bundleName,
                        request.transfer)) {
        return 1;
    }
    // Installed is not started: the game is started here, once, whichever road brought it.
    // Recorded only once the game runs, so that an install whose game does not start is tried
    // again. A first install's files are made durable only now, after the start; an update's
    // journal goes only now: a run killed before the record finishes the commit at its next
    // start and records the version from the journal.
    const bool started = launchUnpackedApplication(request.dataFolder, bundleName) == 0;
    return recordCommittedRelease(request.dataFolder, manifest.text, started);
}

} // namespace

void contentInstallWorker(const ContentInstallRequest& request, std::promise<void>* finished) {
    int result = 1;
    try {
        result = installContent(request);
    } catch (const std::exception& error) {
        // Nothing may escape a thread body, and the window waits for installerDone.
        writeToLog(std::string("content installation failed: ") + error.what());
    }
    installerResult.store(result, std::memory_order_relaxed);
    if (finished != nullptr) {
        finished->set_value();
    }
    installerDone.store(true, std::memory_order_release);
}

InstallerWorker startContentInstallWorker(ContentInstallRequest request) {
    // Shared with the thread: a window that closes early leaves the thread its own end.
    auto finished = std::make_shared<std::promise<void>>();
    InstallerWorker worker;
    worker.finished = finished->get_future();
    worker.thread = startCountedThread([request = std::move(request), finished] {
        contentInstallWorker(request, finished.get());
    });
    return worker;
}
