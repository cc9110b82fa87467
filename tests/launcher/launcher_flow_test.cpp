// The launcher's decision flow, run as players run it: the built bundle copied to a folder of its
// own, started as a child process with its own HOME, XDG_DATA_HOME and TMPDIR, against a manifest
// served on loopback.
#include "tests/support/child_process.h"
#include "tests/support/installed_game.h"
#include "tests/support/launcher_sandbox.h"
#include "tests/support/manifest_server.h"
#include "tests/support/plist_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class LauncherFlowTest : public testing::Test {
  protected:
    void SetUp() override {
        server.serve("ApplicationVersion=1.0\nLauncherVersion=1.2\n"
                     "ApplicationDownloadUrl=http://127.0.0.1:1/none.zip\n");
        writeConfig(server.manifestUrl(), "1.2");
    }

    void writeConfig(const std::string& endpoint, const std::string& launcherVersion,
                     const PlistEntries& extra = {}) {
        sandbox.writeConfig(endpoint, launcherVersion, extra);
    }

    ChildResult runLauncher(const std::vector<std::string>& arguments = {}) {
        return sandbox.run(arguments);
    }

    std::vector<std::string> logMessages() const { return sandbox.logMessages(); }
    bool logHas(const std::string& message) const { return sandbox.logHas(message); }
    bool logMentions(const std::string& text) const { return sandbox.logMentions(text); }

    LauncherSandbox sandbox;
    const fs::path& root = sandbox.root.path();
    const fs::path& bundle = sandbox.bundle;
    const fs::path& dataFolder = sandbox.dataFolder;
    InstalledGame game{dataFolder};
    ManifestServer server;
};

} // namespace

TEST_F(LauncherFlowTest, CurrentContentStartsTheGameWhichOutlivesTheLauncher) {
    game.install("1.0");
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;

    const GameRecord started = game.waitForStart();
    EXPECT_TRUE(processIsAlive(started.pid));
    EXPECT_TRUE(started.arguments.empty());

    const std::string resources = (bundle / "Contents" / "Resources").string();
    EXPECT_TRUE(logMentions("\n\n[" + (bundle / "Contents" / "MacOS" / "launcher").string() +
                            " setup for logging]\n"));
    EXPECT_TRUE(logHas("mainBundle resourcePath:" + resources));
    EXPECT_TRUE(
        logHas("Config loaded from config.plist: latestVersionEndpoint=" + server.manifestUrl() +
               ", launcherVersion=1.2, companyFolderName=Test Company, "
               "appFolderName=Test App, appDisplayName=Drift Moor"));
    EXPECT_TRUE(
        logHas("comparing endpoint launcher version:1.2 to config installer version:1.2..."));
    EXPECT_TRUE(
        logHas("CurrentVersion.ini loaded from '" + dataFolder.string() + "': appVersion=1.0"));
    EXPECT_TRUE(
        logHas("comparing latest endpoint version: 1.0 to app CurrentVersion appVersion: 1.0"));
    EXPECT_FALSE(logMentions("Starting content installer"));
    EXPECT_EQ(server.manifestRequests(), 1);
}

TEST_F(LauncherFlowTest, UninstallIsChosenOnlyByAnExactDashU) {
    // Uninstall mode stops the running program of this name anywhere on the machine: a name of
    // this test's own keeps it from stopping the games of tests that run alongside.
    writeConfig(
        server.manifestUrl(), "1.2",
        {{"appDisplayName", "<string>Drift Moor " + std::to_string(getpid()) + "</string>"}});
    // Any run that reads it ends at once: the malformed line fails the manifest. (Another
    // launcher version would no longer end it: a failed self-update goes on with the content step.)
    server.serve("LauncherVersion=other\nnot a manifest line\n");
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"-u"}, {"-s", "-u"}, {"-u", "-s"}, {"anything", "-u"}}) {
        const int before = server.manifestRequests();
        runLauncher(arguments);
        EXPECT_EQ(server.manifestRequests() - before, 0) << arguments.back();
        EXPECT_FALSE(logMentions("mainBundle resourcePath:")) << arguments.back();
    }
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"-U"}, {"--u"}, {"-u1"}, {"u"}}) {
        const int before = server.manifestRequests();
        runLauncher(arguments);
        EXPECT_EQ(server.manifestRequests() - before, 1) << arguments.front();
    }
}

TEST_F(LauncherFlowTest, AManifestThatCannotBeFetchedEndsWithOneAndTouchesNothing) {
    game.install("1.0");
    writeConfig("http://127.0.0.1:1/LatestVersion.ini", "1.2");
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(logHas("curl_easy_perform() failed: Couldn't connect to server"));
    EXPECT_TRUE(logHas("performed installer version in-memory curl and got status: 1..."));
    EXPECT_TRUE(logHas("Couldn't download http://127.0.0.1:1/LatestVersion.ini"));
    EXPECT_TRUE(logHas("Error getting or parsing LatestVersion.ini! latestVersionEndpointURL:"
                       "http://127.0.0.1:1/LatestVersion.ini"));
    EXPECT_FALSE(logMentions("comparing"));
    EXPECT_FALSE(game.started());
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), "ApplicationVersion=1.0\n");
}

TEST_F(LauncherFlowTest, AMalformedManifestIsAFailureToo) {
    game.install("1.0");
    server.serve("ApplicationVersion=1.0\nLauncherVersion=1.2\nthis line has no separator\n");
    EXPECT_EQ(runLauncher().exitStatus, 1);
    EXPECT_TRUE(logHas("performed installer version in-memory curl and got status: 0..."));
    EXPECT_TRUE(logMentions("Error getting or parsing LatestVersion.ini!"));
    EXPECT_FALSE(game.started());
}

// The manifest names no installer, so the self-update fails; since a failed self-update goes on
// with the content step, the installed game is started after the self-update's lines.
TEST_F(LauncherFlowTest, AnyLauncherVersionDifferenceTakesTheSelfUpdateRoad) {
    game.install("1.0");
    writeConfig(server.manifestUrl(), "1.2 ");
    const ChildResult result = runLauncher();
    EXPECT_TRUE(
        logHas("comparing endpoint launcher version:1.2 to config installer version:1.2 ..."));
    const auto messages = logMessages();
    const auto failed =
        std::find(messages.begin(), messages.end(), "Failed to curl and install from launcher");
    const auto compared =
        std::find(messages.begin(), messages.end(),
                  "comparing latest endpoint version: 1.0 to app CurrentVersion appVersion: 1.0");
    EXPECT_TRUE(failed < compared && compared != messages.end()) << sandbox.logText();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_NE(game.waitForStart().pid, 0);
}

TEST_F(LauncherFlowTest, MissingContentOrRecordRunsTheInstallerWithoutComparing) {
    game.installBundle();
    runLauncher();
    EXPECT_FALSE(logMentions("comparing latest endpoint version"));
    EXPECT_FALSE(logMentions("CurrentVersion.ini loaded"));
    EXPECT_FALSE(game.started());

    fs::remove_all(dataFolder);
    fs::create_directories(dataFolder);
    writeFile(dataFolder / "CurrentVersion.ini", "ApplicationVersion=1.0\n");
    runLauncher();
    EXPECT_FALSE(logMentions("comparing latest endpoint version"));
    EXPECT_TRUE(logMentions("comparing endpoint launcher version:"));
}

TEST_F(LauncherFlowTest, DifferingContentVersionsStartTheInstaller) {
    game.install("1.0.9");
    server.serve("ApplicationVersion=1.0.10\nLauncherVersion=1.2\n"
                 "ApplicationDownloadUrl=http://127.0.0.1:1/none.zip\n");
    runLauncher();
    const auto messages = logMessages();
    const auto at = std::find(messages.begin(), messages.end(),
                              "Current appVersion:1.0.9 is different than latest:1.0.10");
    ASSERT_NE(at, messages.end());
    ASSERT_NE(at + 1, messages.end());
    EXPECT_EQ(*(at + 1), "Starting content installer...");
    EXPECT_FALSE(game.started());
}

TEST_F(LauncherFlowTest, ALeftoverSelfUpdateFolderIsRemovedOnceTheLauncherIsCurrent) {
    game.install("1.0");
    writeFile(root / "tmp" / "Test App" / "Drift Moor.app" / "Contents" / "old", "installer");
    EXPECT_EQ(runLauncher().exitStatus, 0);
    game.waitForStart();
    EXPECT_FALSE(fs::exists(root / "tmp" / "Test App"));
    EXPECT_TRUE(fs::exists(root / "tmp"));
}

TEST_F(LauncherFlowTest, SettingsOfTheWrongKindAreNamedInTheLog) {
    game.install("1.0");
    writeConfig(server.manifestUrl(), "1.2", {{"uninstallExitURL", "<string/>"}});
    auto config = readFile(bundle / "Contents" / "Resources" / "config.plist");
    config.replace(config.find("<string>Drift Moor</string>"), 27, "<integer>5</integer>");
    writeFile(bundle / "Contents" / "Resources" / "config.plist", config);
    EXPECT_EQ(runLauncher().exitStatus, 0);
    game.waitForStart();
    EXPECT_TRUE(logMentions("appDisplayName is not a string"));
    EXPECT_TRUE(logMentions("appDisplayName=Drift Moor"));
}

TEST_F(LauncherFlowTest, ADataFolderThatCannotBeMadeEndsWithOne) {
    writeFile(root / "data" / "Test Company", "a file in the way");
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("Unable to create folder at " +
                                        (root / "data" / "Test Company" / "Test App").string()),
              std::string::npos)
        << result.standardError;
    EXPECT_EQ(server.manifestRequests(), 0);
}
