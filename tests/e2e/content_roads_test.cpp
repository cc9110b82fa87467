// The launcher's content roads end to end: first install, start game, repair, update and a
// manifest that cannot be had, against nginx serving releases made with launcher-publish.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* prefix = "Quillmere-";

class ContentRoads : public AcceptanceTest {
  protected:
    std::string release(const std::string& version) { return releaseGame(version, prefix); }

    std::string installLine(const std::string& version) const {
        return "performToFileCurlAndExecute start - url:" +
               server->url("/game-" + version + ".zip") +
               " downloadToFilePath:" + dataFolder.string() +
               "/ downloadToFileName:" + displayName +
               ".zip downloadedExecutableToRun:" + gameBundleName(prefix);
    }

    std::string installedVersionLine(const std::string& version) const {
        return "CurrentVersion.ini loaded from '" + dataFolder.string() +
               "': appVersion=" + version;
    }

    // The player has quit the game before starting the launcher again.
    void quitGames() { started.stopAll(); }
};

} // namespace

TEST_F(ContentRoads, FirstInstallDownloadsUnpacksStartsAndRecordsTheRelease) {
    SKIP_WITHOUT_DISPLAY();
    const std::string manifest = release("1.0");
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;

    expectOneStart("1.0", installedBundle(prefix));

    EXPECT_TRUE(
        lastRunHas("comparing endpoint launcher version:1.0 to config installer version:1.0..."));
    EXPECT_TRUE(lastRunHas(installLine("1.0")));
    EXPECT_FALSE(lastRunMentions("comparing latest endpoint version"));
    EXPECT_FALSE(lastRunMentions("failed"));
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), manifest);
    EXPECT_FALSE(fs::exists(dataFolder / (displayName + ".zip")));
    // The installer fetches the manifest a second time; the archive comes in ranges, as the
    // launcher, never whole.
    EXPECT_EQ(requestsFor("GET /LatestVersion.ini 200"), 2);
    EXPECT_EQ(requestsFor("GET /game-1.0.zip 200"), 0);
    EXPECT_GE(requestsFor("GET /game-1.0.zip 206 \"libcurl-agent/1.0\""), 1);
}

TEST_F(ContentRoads, ACurrentGameStartsAtOnceOverHttps) {
    SKIP_WITHOUT_DISPLAY();
    serve({.https = true});
    release("1.0");
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    quitGames();

    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const auto starts = gameStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].version, "1.0");
    EXPECT_TRUE(processIsAlive(starts[1].pid)) << "the game outlives the launcher";
    EXPECT_TRUE(lastRunHas(installedVersionLine("1.0")));
    EXPECT_TRUE(
        lastRunHas("comparing latest endpoint version: 1.0 to app CurrentVersion appVersion: 1.0"));
    EXPECT_FALSE(lastRunMentions("performToFileCurlAndExecute start"));
    EXPECT_FALSE(lastRunMentions("Starting content installer"));
    EXPECT_EQ(requestsFor("GET /game-1.0.zip 200"), 0);
    EXPECT_GE(requestsFor("GET /game-1.0.zip 206 \"libcurl-agent/1.0\""), 1);
}

TEST_F(ContentRoads, AMissingInstalledVersionRecordIsRepaired) {
    SKIP_WITHOUT_DISPLAY();
    const std::string manifest = release("1.0");
    ASSERT_EQ(runLauncher().exitStatus, 0);
    quitGames();
    fs::remove(dataFolder / "CurrentVersion.ini");

    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(lastRunHas(installLine("1.0")));
    EXPECT_FALSE(lastRunMentions("comparing latest endpoint version"));
    EXPECT_FALSE(lastRunMentions("CurrentVersion.ini loaded"));
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), manifest);
    const auto starts = gameStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].version, "1.0");
    // The repair finds every file in place and fetches no entry again.
    EXPECT_TRUE(lastRunMentions(": fetching 0 of "));
    EXPECT_EQ(requestsFor("GET /game-1.0.zip 200"), 0);
}

TEST_F(ContentRoads, AMissingGameBundleIsRepaired) {
    SKIP_WITHOUT_DISPLAY();
    const std::string manifest = release("1.0");
    ASSERT_EQ(runLauncher().exitStatus, 0);
    quitGames();
    fs::remove_all(installedBundle(prefix));

    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(lastRunHas(installLine("1.0")));
    EXPECT_FALSE(lastRunMentions("comparing latest endpoint version"));
    EXPECT_TRUE(fs::exists(installedBundle(prefix) / "Contents" / "MacOS" / "sample_game"));
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), manifest);
    const auto starts = gameStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].version, "1.0");
}

TEST_F(ContentRoads, AnyOtherVersionInstallsAnUpdateALowerOneToo) {
    SKIP_WITHOUT_DISPLAY();
    release("1.1");
    ASSERT_EQ(runLauncher().exitStatus, 0);
    quitGames();

    for (const std::string version : {"1.0", "1.10"}) {
        const std::string installed = version == "1.0" ? "1.1" : "1.0";
        const std::string manifest = release(version);
        const std::size_t startsBefore = readGameStarts(gameRecord).size();
        const ChildResult result = runLauncher();
        EXPECT_EQ(result.exitStatus, 0) << version << ": " << result.standardError;
        EXPECT_TRUE(lastRunHas(installedVersionLine(installed))) << version;
        EXPECT_TRUE(lastRunHasInOrder("Current appVersion:" + installed +
                                          " is different than latest:" + version,
                                      "Starting content installer..."))
            << version;
        EXPECT_TRUE(lastRunHas(installLine(version))) << version;
        EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), manifest) << version;
        const auto starts = gameStarts(startsBefore + 1);
        ASSERT_EQ(starts.size(), startsBefore + 1) << version;
        EXPECT_EQ(starts.back().version, version);
        quitGames();
    }
}

TEST_F(ContentRoads, AManifestThatCannotBeHadEndsWithOneAndLeavesTheGameAlone) {
    SKIP_WITHOUT_DISPLAY();
    const std::string manifest = release("1.0");
    ASSERT_EQ(runLauncher().exitStatus, 0);
    quitGames();
    const std::string endpoint = server->url("/LatestVersion.ini");

    // nginx's 404 page is no manifest: fetched, then refused by the parser.
    fs::remove(releases / "LatestVersion.ini");
    ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(lastRunHas("performed installer version in-memory curl and got status: 0..."));
    EXPECT_TRUE(lastRunHas("Error getting or parsing LatestVersion.ini! latestVersionEndpointURL:" +
                           endpoint));
    EXPECT_EQ(requestsFor("GET /LatestVersion.ini 404"), 1);

    // No server at all.
    server->stop();
    result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(lastRunHas("curl_easy_perform() failed: Couldn't connect to server"));
    EXPECT_TRUE(lastRunHas("performed installer version in-memory curl and got status: 1..."));
    EXPECT_TRUE(lastRunHas("Couldn't download " + endpoint));
    EXPECT_TRUE(lastRunHas("Error getting or parsing LatestVersion.ini! latestVersionEndpointURL:" +
                           endpoint));

    EXPECT_FALSE(lastRunMentions("comparing"));
    EXPECT_EQ(readGameStarts(gameRecord).size(), 1u) << "the game is not started";
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), manifest);
    EXPECT_TRUE(fs::exists(installedBundle(prefix)));
}

TEST_F(ContentRoads, AStartedGameWritesToTheLaunchersOwnOutputNeverIntoTheRunLog) {
    SKIP_WITHOUT_DISPLAY();
    release("1.0");
    // The sample game prints "<name> <version>" to its standard output as it starts; once by
    // the installer's worker, once on the road that starts a current game.
    for (int run = 1; run <= 2; ++run) {
        ASSERT_EQ(runLauncher().exitStatus, 0) << run;
        const auto starts = gameStarts(static_cast<std::size_t>(run));
        ASSERT_EQ(starts.size(), static_cast<std::size_t>(run));
        std::error_code error;
        const fs::path output =
            fs::read_symlink("/proc/" + std::to_string(starts.back().pid) + "/fd/1", error);
        EXPECT_FALSE(error) << run;
        EXPECT_NE(output, fs::canonical(dataFolder / "out.log")) << run;
        quitGames();
        EXPECT_FALSE(sandbox.logMentions(displayName + " 1.0\n")) << sandbox.logText();
    }
}
