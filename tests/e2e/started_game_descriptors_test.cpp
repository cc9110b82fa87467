// What a started game inherits: only standard input, output and error, although the launcher
// holds the update server's connection, the installer window's font and animation and the
// display's socket open when it starts the game. The test game lists its /proc/self/fd.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/game_bundle.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class StartedGameDescriptors : public AcceptanceTest {
  protected:
    // The test game as the release at version, announced in the manifest.
    void release(const std::string& version) {
        const fs::path folder = staging / ("descriptors-" + version);
        runPublish({"bundle", "--executable", TEST_GAME_PATH, "--executable-name", "game", "--name",
                    displayName, "--version", version, "--output-folder", folder.string(),
                    "--replace"});
        const std::string archive = "descriptors-" + version + ".zip";
        runPublish({"pack", (folder / gameBundleName()).string(), "--output",
                    (releases / archive).string()});
        publishManifest(version, "/" + archive, "", "1.0");
        configure("1.0", "/LatestVersion.ini");
    }

    // Runs the launcher and returns the descriptors the game it started found open.
    std::vector<int> descriptorsOfStartedGame() {
        // The record of the game started before, which the player has quit since.
        started.stopAll();
        fs::remove(executable().string() + ".pid");
        fs::remove(executable().string() + ".fds");
        const ChildResult result = runLauncher();
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        const GameRecord record = waitForGameRecord(executable());
        EXPECT_GT(record.pid, 0);
        return record.descriptors;
    }

    fs::path executable() const { return dataFolder / gameBundleName() / "Contents/MacOS/game"; }
};

} // namespace

TEST_F(StartedGameDescriptors, OnlyTheStandardOnesReachTheGameOnEveryRoad) {
    SKIP_WITHOUT_DISPLAY(); // the installer window is up while the game starts
    const std::vector<int> standard{0, 1, 2};
    release("1.0");
    EXPECT_EQ(descriptorsOfStartedGame(), standard) << "first install, entry by entry";
    EXPECT_TRUE(lastRunMentions("entry-wise install of "));

    serve({.extraDirectives = "max_ranges 0;"});
    release("1.1");
    EXPECT_EQ(descriptorsOfStartedGame(), standard) << "update, whole archive";
    EXPECT_TRUE(lastRunMentions("fetching the whole archive"));

    EXPECT_EQ(descriptorsOfStartedGame(), standard) << "start of the current game";
    EXPECT_TRUE(lastRunMentions("comparing latest endpoint version: 1.1"));
}
