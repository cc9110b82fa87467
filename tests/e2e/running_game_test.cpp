// Starting the launcher again while the game it started still runs: as on a Mac, where starting
// a running application brings that one forward, no second copy starts and nothing is installed
// under the running game. Only the installed game's own executable counts.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

const PlistEntries offlinePlay{{"startInstalledGameWhenOffline", "<integer>1</integer>"}};

class RunningGame : public AcceptanceTest {
  protected:
    // Release 1.0 installed and its game started; the player keeps playing.
    pid_t installAndKeepPlaying() {
        publishManifest("1.0", publishGame("1.0"), "", "1.0");
        configure("1.0", "/LatestVersion.ini", offlinePlay);
        EXPECT_EQ(runLauncher().exitStatus, 0);
        const auto starts = gameStarts(1);
        return starts.empty() ? 0 : starts.front().pid;
    }

    fs::path installedBundle() const { return dataFolder / gameBundleName(); }

    std::string runningLine(pid_t pid) const {
        return "The game is already running (process " + std::to_string(pid) +
               "); not starting it again and not updating it: " + installedBundle().string();
    }

    // The running game is the only one, and the installed files are still release 1.0's.
    void expectOneGameOfRelease10(pid_t game, const std::string& record) const {
        EXPECT_EQ(processesRunningFrom(installedBundle()), std::vector<pid_t>{game});
        EXPECT_EQ(readGameStarts(gameRecord).size(), 1u) << "no second copy";
        EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), record);
        EXPECT_NE(readFile(installedBundle() / "Contents" / "Info.plist").find("<string>1.0<"),
                  std::string::npos);
    }
};

} // namespace

TEST_F(RunningGame, IsNeitherStartedAgainNorUpdatedOnAnyRoad) {
    SKIP_WITHOUT_DISPLAY();
    const pid_t game = installAndKeepPlaying();
    ASSERT_GT(game, 0);
    const std::string record = readFile(dataFolder / "CurrentVersion.ini");

    // The road that starts a current game.
    ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(lastRunHas(runningLine(game)));
    EXPECT_FALSE(lastRunMentions("comparing latest endpoint version"));
    expectOneGameOfRelease10(game, record);

    // The update road: a new release waits on the server.
    publishManifest("1.1", publishGame("1.1"), "", "1.0");
    result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(lastRunHas(runningLine(game)));
    EXPECT_FALSE(lastRunMentions("Starting content installer"));
    EXPECT_EQ(requestsFor("GET /game-1.1.zip"), 0);
    expectOneGameOfRelease10(game, record);

    // Offline play.
    server->stop();
    result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(lastRunHas(runningLine(game)));
    EXPECT_FALSE(lastRunMentions("without checking for updates"));
    expectOneGameOfRelease10(game, record);

    // Once the player has quit, the update installs and starts.
    serve();
    configure("1.0", "/LatestVersion.ini", offlinePlay);
    publishManifest("1.1", "/game-1.1.zip", "", "1.0");
    started.stopAll();
    result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_FALSE(lastRunMentions("already running"));
    const auto starts = gameStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].version, "1.1");
}

TEST_F(RunningGame, TheSameGameRunningFromElsewhereDoesNotCount) {
    SKIP_WITHOUT_DISPLAY();
    const pid_t game = installAndKeepPlaying();
    ASSERT_GT(game, 0);
    killAndForget(game);
    // A copy of the installed game, same names and bytes, running from another folder.
    const fs::path elsewhere = sandbox.root / "elsewhere";
    fs::create_directories(elsewhere);
    fs::copy(installedBundle(), elsewhere / gameBundleName(), fs::copy_options::recursive);
    const fs::path otherRecord = sandbox.root / "elsewhere-starts.txt";
    const std::string copy =
        (elsewhere / gameBundleName() / "Contents" / "MacOS" / "sample_game").string();
    ASSERT_EQ(runChild("/bin/sh", {"-c", "\"$1\" </dev/null >/dev/null 2>&1 &", "sh", copy},
                       {{"SAMPLE_GAME_RECORD", otherRecord.string()},
                        {"SAMPLE_GAME_QUIET", "1"},
                        {"SAMPLE_GAME_SECONDS", "60"}})
                  .exitStatus,
              0);
    ASSERT_EQ(waitForGameStarts(otherRecord, 1).size(), 1u);

    // The road that starts a current game.
    ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_FALSE(lastRunMentions("already running"));
    auto starts = gameStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    killAndForget(starts[1].pid);

    // The update road.
    publishManifest("1.1", publishGame("1.1"), "", "1.0");
    result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_FALSE(lastRunMentions("already running"));
    starts = gameStarts(3);
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[2].version, "1.1");
    EXPECT_EQ(readGameStarts(otherRecord).size(), 1u);
}
