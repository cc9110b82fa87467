#include "update/content_install_worker.h"

#include "tests/support/child_process.h"
#include "tests/update/download_test_support.h"
#include "update/http/transfer_progress.h"
#include "update/unzip_progress.h"

#include <thread>

namespace fs = std::filesystem;

namespace {

struct Observed {
    bool percentagesInRange = true;
    bool unzipNeverFell = true;
    int polls = 0;
};

// The installer window's side: polls the four shared values until the worker is done, the way
// the window reads them between frames.
Observed pollUntilDone() {
    Observed observed;
    std::int32_t lastUnzip = 0;
    while (!installerDone.load(std::memory_order_acquire)) {
        const std::int32_t download = downloadProgressPercent.load(std::memory_order_relaxed);
        const std::int32_t unzip = unzipProgressPercent.load(std::memory_order_relaxed);
        const std::int32_t result = installerResult.load(std::memory_order_relaxed);
        observed.percentagesInRange &=
            download >= 0 && download <= 100 && unzip >= 0 && unzip <= 100;
        observed.unzipNeverFell &= unzip >= lastUnzip;
        lastUnzip = unzip;
        (void)result;
        ++observed.polls;
        std::this_thread::yield();
    }
    return observed;
}

class ContentInstallWorkerTest : public GameInstallTest {
  protected:
    const std::string manifest = "ApplicationVersion=2.0\n; the served text, comments and all\n";

    ContentInstallRequest request;

    void SetUp() override {
        LoggedTest::SetUp();
        request.dataFolder = data.str();
        request.appDisplayName = "Drift Moor";
        request.manifest.status = 0;
        request.manifest.failure = ManifestFailure::None;
        request.manifest.info.ApplicationExecutablePrefix = "Play ";
        request.manifest.text = manifest;
        installerResult.store(-1);
        installerDone.store(false);
    }

    std::string gameArchive() const {
        return zipBytes(scratch, {gameExecutableEntry("Play Drift Moor", scratch / "game.pid"),
                                  fileEntry("Play Drift Moor.app/Contents/Resources/a.dat", "a")});
    }

    Observed runWorker(const std::string& url) {
        request.manifest.info.ApplicationDownloadUrl = url;
        std::thread worker([this] { contentInstallWorker(request); });
        const Observed observed = pollUntilDone();
        worker.join();
        return observed;
    }
};

TEST_F(ContentInstallWorkerTest, InstallsStartsTheGameRecordsTheVersionAndRaisesDone) {
    ContentServer server(gameArchive());
    const Observed observed = runWorker(server.url("/game.zip"));

    EXPECT_EQ(installerResult.load(), 0) << log();
    EXPECT_TRUE(observed.percentagesInRange);
    EXPECT_TRUE(observed.unzipNeverFell);
    EXPECT_GT(waitForPid(scratch / "game.pid"), 0);
    EXPECT_EQ(readFile(data / "CurrentVersion.ini"), manifest);
    EXPECT_FALSE(fs::exists(data / "Drift Moor.zip"));
    EXPECT_EQ(unzipProgressPercent.load(), 100);
    EXPECT_EQ(downloadProgressPercent.load(), 100);
}

TEST_F(ContentInstallWorkerTest, AFailedInstallRecordsNothingAndStillRaisesDone) {
    writeFile(data / "CurrentVersion.ini", "ApplicationVersion=1.0\n");
    ContentServer server(gameArchive());
    runWorker(server.url("/missing"));

    EXPECT_TRUE(installerDone.load());
    EXPECT_EQ(installerResult.load(), 1);
    // The install failed before its commit: the earlier version is still whole, and recorded,
    // so that offline play starts it. Nothing of the attempt stays behind.
    EXPECT_EQ(readFile(data / "CurrentVersion.ini"), "ApplicationVersion=1.0\n");
    EXPECT_TRUE(logged("failed to unzip file"));
    EXPECT_FALSE(fs::exists(data / "Drift Moor.zip"));
    EXPECT_FALSE(fs::exists(data / ".launcher-staging"));
}

TEST_F(ContentInstallWorkerTest, ARecordThatCannotBeSavedFailsTheInstallAfterTheStart) {
    // A folder where the record is written first: the game starts, but the version cannot be
    // recorded.
    fs::create_directories(data / "CurrentVersion.ini.partial/blocked");
    ContentServer server(gameArchive());
    runWorker(server.url("/game.zip"));

    EXPECT_TRUE(installerDone.load());
    EXPECT_EQ(installerResult.load(), 1);
    EXPECT_GT(waitForPid(scratch / "game.pid"), 0);
    EXPECT_TRUE(logged("failed to save CurrentVersion.ini! contentAppPath: " + data.str()));
}

TEST_F(ContentInstallWorkerTest, NamesThatLeaveTheDataFolderAreRefusedBeforeTheDownload) {
    ContentServer server(gameArchive());
    writeFile(scratch / "Drift Moor.zip", "outside");
    request.appDisplayName = "../" + scratch.path().filename().string() + "/Drift Moor";
    runWorker(server.url("/game.zip"));
    EXPECT_EQ(installerResult.load(), 1);
    EXPECT_TRUE(logged("Refusing appDisplayName '" + request.appDisplayName +
                       "': it must be a single name"))
        << log();

    for (const std::string name : {"", ".", ".."}) {
        request.appDisplayName = name;
        installerDone.store(false);
        runWorker(server.url("/game.zip"));
        EXPECT_EQ(installerResult.load(), 1);
        EXPECT_TRUE(logged("Refusing appDisplayName '" + name + "': it must be a single name"));
    }

    request.appDisplayName = "Drift Moor";
    request.manifest.info.ApplicationExecutablePrefix = "../";
    installerDone.store(false);
    runWorker(server.url("/game.zip"));
    EXPECT_EQ(installerResult.load(), 1);
    EXPECT_TRUE(
        logged("Refusing application bundle name '../Drift Moor.app': it must be a single name"));

    EXPECT_EQ(server.archiveRequests(), 0);
    EXPECT_EQ(readFile(scratch / "Drift Moor.zip"), "outside");
    EXPECT_FALSE(fs::exists(data / "CurrentVersion.ini"));
}

TEST_F(ContentInstallWorkerTest, WhateverStandsAtTheRecordGoesBeforeTheInstallNeverALinksTarget) {
    // A folder there would keep the record from ever being written; a link goes as a link.
    fs::create_directories(data / "CurrentVersion.ini/left");
    ContentServer server(gameArchive());
    runWorker(server.url("/game.zip"));
    EXPECT_EQ(installerResult.load(), 0) << log();
    EXPECT_EQ(readFile(data / "CurrentVersion.ini"), manifest);
    killAndForget(waitForPid(scratch / "game.pid"));
    fs::remove(scratch / "game.pid");

    writeFile(scratch / "elsewhere.ini", "ApplicationVersion=9\n");
    fs::remove(data / "CurrentVersion.ini");
    fs::create_symlink(scratch / "elsewhere.ini", data / "CurrentVersion.ini");
    installerDone.store(false);
    runWorker(server.url("/missing"));
    EXPECT_EQ(installerResult.load(), 1);
    // A failed install touches no record; the commit of one that succeeds removes the link.
    EXPECT_TRUE(fs::is_symlink(data / "CurrentVersion.ini"));
    installerDone.store(false);
    runWorker(server.url("/game.zip"));
    EXPECT_EQ(installerResult.load(), 0) << log();
    killAndForget(waitForPid(scratch / "game.pid"));
    EXPECT_FALSE(fs::is_symlink(data / "CurrentVersion.ini"));
    EXPECT_EQ(readFile(data / "CurrentVersion.ini"), manifest);
    EXPECT_EQ(readFile(scratch / "elsewhere.ini"), "ApplicationVersion=9\n");
}

} // namespace
