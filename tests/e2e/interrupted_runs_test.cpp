// Runs that do not go as planned, end to end: the installer window closed while the archive
// still arrives, an update whose game will not start, two launchers started together.
//
// The window is closed with SIGTERM: SDL turns it into the same SDL_QUIT close request that
// the window manager's close button sends, and the window answers it the same way.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/e2e/tcp_relay.h"
#include "tests/support/temp_folder.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace fs = std::filesystem;

namespace {

class InterruptedRuns : public AcceptanceTest {
  protected:
    void SetUp() override {
        AcceptanceTest::SetUp();
        oldManifest = publishManifest("1.0", publishGame("1.0"), "", "1.0");
        configure("1.0", "/LatestVersion.ini");
    }

    // From now on the archives come through a relay that holds them back until the test lets
    // them go; the manifest is to name the relay's address.
    void holdArchivesBack() {
        relay = std::make_unique<TcpRelay>(server->port());
        relay->hold();
    }

    // Waits (at most a minute) until the launcher has asked the relay for the archive.
    bool waitForArchiveRequest() const {
        for (int i = 0; i < 3000 && relay->connections() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return relay->connections() > 0;
    }

    void installFirstRelease() {
        ASSERT_EQ(runLauncher().exitStatus, 0);
        ASSERT_EQ(gameStarts(1).size(), 1u);
        started.stopAll();
    }

    std::string installStart(const std::string& archive) const {
        return "performToFileCurlAndExecute start - url:" + server->url(archive);
    }

    std::string oldManifest;
    std::unique_ptr<TcpRelay> relay;
};

} // namespace

TEST_F(InterruptedRuns, ClosingTheWindowDuringAnUpdateEndsWithOneAndTheNextRunInstallsAgain) {
    SKIP_WITHOUT_DISPLAY();
    installFirstRelease();
    // The archive is held back: the close comes before it is in.
    holdArchivesBack();
    publishGame("1.1");
    publishManifest("1.1", relay->url("/game-1.1.zip"), "", "1.0");

    auto run = startLauncher();
    ASSERT_TRUE(waitForArchiveRequest());
    const auto launchers = runningLaunchers();
    ASSERT_EQ(launchers.size(), 1u);
    kill(launchers[0], SIGTERM);
    const ChildResult closed = run.get();

    EXPECT_EQ(closed.exitStatus, 1) << closed.standardError;
    EXPECT_TRUE(sandbox.logHas("The installer window was closed before the installation finished"));
    // An update that did not reach its commit left 1.0 whole, and recorded.
    const std::string recorded = readFile(dataFolder / "CurrentVersion.ini");
    EXPECT_NE(recorded.find("ApplicationVersion=1.0\n"), std::string::npos);
    EXPECT_EQ(readGameStarts(gameRecord).size(), 1u);
    EXPECT_TRUE(runningLaunchers().empty());

    // The old manifest comes back (a stale cache): 1.0 is started as it stands, no mixture.
    serve();
    configure("1.0", "/LatestVersion.ini");
    publishManifest("1.0", "/game-1.0.zip", "", "1.0");
    const ChildResult again = runLauncher();
    EXPECT_EQ(again.exitStatus, 0) << again.standardError;
    EXPECT_FALSE(lastRunMentions(installStart("/game-1.0.zip")));
    EXPECT_EQ(gameStarts(2).back().version, "1.0");
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), recorded);
}

TEST_F(InterruptedRuns, AnUpdateWhoseGameWillNotStartIsNotTakenForTheOldVersion) {
    SKIP_WITHOUT_DISPLAY();
    installFirstRelease();
    // Release 1.1 unpacks over 1.0, but its executable is no program at all.
    const fs::path broken = staging / "sample_game";
    writeFile(broken, "not a program\n");
    const fs::path folder = staging / "game-1.1";
    runPublish({"bundle", "--executable", broken.string(), "--name", displayName, "--version",
                "1.1", "--output-folder", folder.string(), "--replace"});
    runPublish({"pack", (folder / gameBundleName()).string(), "--output",
                (releases / "game-1.1.zip").string()});
    publishManifest("1.1", "/game-1.1.zip", "", "1.0");
    const ChildResult failed = runLauncher();
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_TRUE(lastRunHas("failed to start app: " + (dataFolder / gameBundleName()).string()));
    EXPECT_FALSE(fs::exists(dataFolder / "CurrentVersion.ini"));

    // The manifest names 1.0 again: the half-replaced bundle is installed anew, not started.
    publishManifest("1.0", "/game-1.0.zip", "", "1.0");
    const ChildResult rolledBack = runLauncher();
    EXPECT_EQ(rolledBack.exitStatus, 0) << rolledBack.standardError;
    EXPECT_TRUE(lastRunMentions(installStart("/game-1.0.zip")));
    EXPECT_FALSE(lastRunMentions("failed"));
    EXPECT_EQ(gameStarts(2).back().version, "1.0");
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), oldManifest);
}

TEST_F(InterruptedRuns, ASecondLauncherOnTheSameDataFolderLeavesTheWorkToTheFirst) {
    SKIP_WITHOUT_DISPLAY();
    // The archive is held back until the second launcher has come and gone.
    holdArchivesBack();
    const std::string manifest = publishManifest("1.0", relay->url("/game-1.0.zip"), "", "1.0");

    auto first = startLauncher();
    EXPECT_TRUE(waitForArchiveRequest());
    const ChildResult second = runLauncher();
    EXPECT_EQ(second.exitStatus, 0) << second.standardError;
    EXPECT_TRUE(lastRunHas("Another launcher is already running for " + dataFolder.string() +
                           "; leaving the work to it"));
    EXPECT_FALSE(lastRunMentions("performToFileCurlAndExecute")) << "the second launcher fetched";

    relay->release();
    const ChildResult firstResult = first.get();
    EXPECT_EQ(firstResult.exitStatus, 0) << firstResult.standardError;
    EXPECT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(requestsFor("GET /LatestVersion.ini"), 2) << "the second launcher fetched nothing";
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), manifest);
    EXPECT_FALSE(sandbox.logMentions("failed"));

    // The running game holds no lock: the next launcher gets past it at once, finds the game
    // running and leaves it be, with no second copy.
    serve();
    configure("1.0", "/LatestVersion.ini");
    publishManifest("1.0", "/game-1.0.zip", "", "1.0");
    const ChildResult third = runLauncher();
    EXPECT_EQ(third.exitStatus, 0) << third.standardError;
    EXPECT_FALSE(lastRunMentions("Another launcher"));
    EXPECT_TRUE(lastRunMentions("The game is already running"));
    EXPECT_EQ(processesRunningFrom(dataFolder / gameBundleName()).size(), 1u);
    EXPECT_EQ(gameStarts(1).size(), 1u);
}
