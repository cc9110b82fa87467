// The content installer run as players meet it: the built bundle installs a game served on
// loopback, with its window on the test display.
#include "tests/support/child_process.h"
#include "tests/support/installed_game.h"
#include "tests/support/launcher_sandbox.h"
#include "tests/support/manifest_server.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

class ContentInstallerTest : public testing::Test {
  protected:
    void SetUp() override {
        server.serveArchive(zippedGameBundle(sandbox.root / "staging"));
        sandbox.writeConfig(server.manifestUrl(), "1.2");
        server.serve(manifestFor("2.0"));
    }

    std::string manifestFor(const std::string& version) const {
        return "; Drift Moor release\r\nApplicationVersion=" + version +
               "\r\nLauncherVersion=1.2\r\nApplicationDownloadUrl=" + server.url("/game.zip") +
               "\r\n[Notes]\r\nwhatever=kept\r\n";
    }

    LauncherSandbox sandbox;
    InstalledGame game{sandbox.dataFolder};
    ManifestServer server;
};

} // namespace

TEST_F(ContentInstallerTest, AFirstInstallationStartsTheGameAndRecordsTheServedManifest) {
    const ChildResult result = sandbox.run();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const GameRecord started = game.waitForStart();
    EXPECT_TRUE(processIsAlive(started.pid));
    EXPECT_EQ(readFile(sandbox.dataFolder / "CurrentVersion.ini"), manifestFor("2.0"));
    EXPECT_FALSE(fs::exists(sandbox.dataFolder / "Drift Moor.zip"));
    EXPECT_TRUE(sandbox.logHas(
        "Config loaded from config.plist: latestVersionEndpoint=" + server.manifestUrl() +
        ", companyFolderName=Test Company, appFolderName=Test App, "
        "appDisplayName=Drift Moor, previousInstallPath=, "
        "previousInstallCompanyFolderName=, previousInstallAppFolderName="));
    EXPECT_FALSE(sandbox.logMentions("TTF_OpenFont Error"));
    // The archive comes in range requests: its tail, the rest of what parsing reads, the entries.
    EXPECT_GE(server.archiveRequests(), 1);
    EXPECT_EQ(server.manifestRequests(), 2) << "the installer fetches the manifest a second time";
}

TEST_F(ContentInstallerTest, AnUpdateInstallsOverTheOldVersion) {
    game.install("2.1");
    writeFile(game.bundle() / "Contents" / "old-file", "kept");
    const ChildResult result = sandbox.run();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const auto messages = sandbox.logMessages();
    const auto at = std::find(messages.begin(), messages.end(),
                              "Current appVersion:2.1 is different than latest:2.0");
    ASSERT_NE(at, messages.end());
    ASSERT_NE(at + 1, messages.end());
    EXPECT_EQ(*(at + 1), "Starting content installer...");
    EXPECT_GT(game.waitForStart().pid, 0);
    EXPECT_EQ(readFile(sandbox.dataFolder / "CurrentVersion.ini"), manifestFor("2.0"));
    EXPECT_TRUE(fs::exists(game.bundle() / "Contents" / "old-file"));
}

TEST_F(ContentInstallerTest, TheInstallersOwnManifestFailureOpensNoWindowAndInstallsNothing) {
    server.serve({manifestFor("2.0"), "this line has no separator\n"});
    const ChildResult result = sandbox.run();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(sandbox.logHas("cannot get latest version info"));
    EXPECT_EQ(server.archiveRequests(), 0);
    EXPECT_FALSE(fs::exists(sandbox.dataFolder / "CurrentVersion.ini"));
}

TEST_F(ContentInstallerTest, AFontThatCannotBeOpenedLeavesOneLineAndTheInstallGoesOn) {
    sandbox.writeConfig(server.manifestUrl(), "1.2",
                        {{"contentInstallerFontFileName", "<string>Missing.ttf</string>"}});
    const ChildResult result = sandbox.run();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const std::string log = sandbox.logText();
    const auto first = log.find(":TTF_OpenFont Error: ");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find(":TTF_OpenFont Error: ", first + 1), std::string::npos);
    EXPECT_GT(game.waitForStart().pid, 0);
}

TEST_F(ContentInstallerTest, StartUpFailuresEndWithOneBeforeAnythingIsDownloaded) {
    ChildResult result = sandbox.run({}, {{"SDL_VIDEODRIVER", "no-such-driver"}});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(sandbox.logMentions(":SDL_Init Error: "));

    sandbox.writeConfig(server.manifestUrl(), "1.2",
                        {{"contentInstallerImageWidth", "<integer>20000</integer>"}});
    result = sandbox.run();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(sandbox.logMentions(":SDL_CreateWindow Error: "));

    EXPECT_EQ(server.archiveRequests(), 0);
    EXPECT_FALSE(fs::exists(game.bundle()));
}
