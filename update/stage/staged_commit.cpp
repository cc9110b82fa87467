#include "update/stage/staged_commit.h"

#include "launcher/run_log.h"
#include "update/release/installed_version.h"
#include "update/stage/first_install.h"
#include "update/stage/release_application.h"
#include "update/stage/staging_area.h"
#include "update/stage/test_pause.h"
#include "update/unpack/launcher_records.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

Descriptor openDataFolder(const std::string& dataFolder) {
    return Descriptor(open(dataFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void dropUnfinishableCommit(int folder, const std::string& dataFolder, const Problem& problem) {
    writeToLog("The update left unfinished in " + dataFolder + " cannot be finished: " + problem +
               "; the release will be installed again");
    unlinkat(folder, "CurrentVersion.ini", 0);
    removeCommitJournal(folder);
}

std::string secondsSince(std::chrono::steady_clock::time_point start) {
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", took.count());
    return seconds;
}

// No game of the player's to protect: the files go in place now and are made durable after the
// game's start (see first_install.h).
bool commitFirstInstall(int folder, const std::string& dataFolder, const CommitJournal& journal) {
    const auto moving = std::chrono::steady_clock::now();
    const Problem problem = putFirstInstallInPlace(folder, journal);
    if (!problem.empty()) {
        dropUnfinishableCommit(folder, dataFolder, problem);
        return false;
    }
    writeToLog("First install put in place in " + dataFolder + ": " +
               std::to_string(journal.files.size()) + " files in " + secondsSince(moving) +
               " s, before the sync");
    return true;
}

// True when there is nothing left to make durable (an update synced before its journal) or it
// has been made so.
bool finishFirstInstall(const std::string& dataFolder) {
    const Descriptor folder = openDataFolder(dataFolder);
    if (!folder.valid() || !awaitsSync(folder.fd)) {
        return folder.valid();
    }
    pauseBeforeFirstInstallSyncForTests();
    const auto start = std::chrono::steady_clock::now();
    if (!makeFirstInstallDurable(folder.fd)) {
        writeToLog(errorText("cannot make the first install in " + dataFolder + " durable"));
        return false;
    }
    writeToLog("First install made durable in " + dataFolder + " in " + secondsSince(start) + " s");
    return true;
}

} // namespace

bool commitStagedRelease(const std::string& dataFolder, const CommitJournal& journal,
                         const std::string& bundleName) {
    const auto start = std::chrono::steady_clock::now();
    const Descriptor folder = openDataFolder(dataFolder);
    // A publisher's mistake (an empty archive, another bundle, no executable) must not cost the
    // player the game they have.
    const Problem missing =
        folder.valid() ? missingApplication(dataFolder, journal, bundleName) : Problem();
    if (!missing.empty()) {
        writeToLog("Update refused, the installed game stays as it is: " + missing);
        discardStaging(folder.fd);
        return false;
    }
    if (folder.valid()) {
        dropUnsyncedRecord(folder.fd);
    }
    if (folder.valid() && isFirstInstall(dataFolder)) {
        return commitFirstInstall(folder.fd, dataFolder, journal);
    }
    if (!folder.valid() || !writeCommitJournal(folder.fd, journal)) {
        writeToLog(errorText("cannot write the update's commit journal in " + dataFolder));
        return false;
    }
    const std::string durable = secondsSince(start);
    const auto moving = std::chrono::steady_clock::now();
    const Problem problem = applyCommit(folder.fd, journal);
    if (!problem.empty()) {
        dropUnfinishableCommit(folder.fd, dataFolder, problem);
        return false;
    }
    // How long the player's game was being replaced, and the sync before it.
    writeToLog("Update put in place in " + dataFolder + ": " +
               std::to_string(journal.files.size()) + " files, " +
               std::to_string(journal.removals.size()) + " dropped, in " + secondsSince(moving) +
               " s after " + durable + " s making the staged files and the journal durable");
    return true;
}

int recordCommittedRelease(const std::string& dataFolder, const std::string& versionText,
                           bool gameStarted) {
    const bool durable = finishFirstInstall(dataFolder);
    const int result = gameStarted && durable ? saveCurrentVersionIni(dataFolder, versionText) : 1;
    forgetCommit(dataFolder);
    return result;
}

void forgetCommit(const std::string& dataFolder) {
    const Descriptor folder = openDataFolder(dataFolder);
    if (folder.valid()) {
        removeCommitJournal(folder.fd);
    }
}

void finishLeftCommit(const std::string& dataFolder) {
    const Descriptor folder = openDataFolder(dataFolder);
    if (!folder.valid()) {
        return;
    }
    CommitJournal journal;
    Problem unreadable;
    const JournalPresence presence = readCommitJournal(folder.fd, journal, unreadable);
    if (presence == JournalPresence::Absent) {
        return;
    }
    if (presence == JournalPresence::Unreadable) {
        dropUnfinishableCommit(folder.fd, dataFolder,
                               std::string("its journal ") + commitJournalName +
                                   " cannot be read (" + unreadable + ")");
        return;
    }
    const Problem problem = applyCommit(folder.fd, journal);
    if (!problem.empty()) {
        dropUnfinishableCommit(folder.fd, dataFolder, problem);
        return;
    }
    if (saveCurrentVersionIni(dataFolder, journal.versionText) == 0) {
        removeCommitJournal(folder.fd);
        writeToLog("Finished the update that an earlier run left unfinished in " + dataFolder);
    }
}
