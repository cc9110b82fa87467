// The content installer run as players meet it: the built bundle installs a game served on
// loopback, with its window on the test display.
#include "tests/support/child_process.h"
#include "tests/support/game_bundle.h"
#include "tests/support/http_test_server.h"
#include "tests/support/launcher_sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

namespace fs = std::filesystem;

namespace {

class ContentInstallerTest : public testing::Test {
  protected:
    void SetUp() override {
        const fs::path staging = sandbox.root / "staging";
        makeGameBundle((staging / "Drift Moor.app").string(), "Drift Moor");
        const ChildResult zipped =
            runChild("/usr/bin/zip", {"-q", "-r", "-y", "../game.zip", "Drift Moor.app"}, {},
                     std::chrono::seconds(60), staging.string());
        ASSERT_EQ(zipped.exitStatus, 0) << zipped.standardError;
        archive = readFile(sandbox.root / "game.zip");

        http.server().Get("/LatestVersion.ini",
                          [this](const httplib::Request&, httplib::Response& res) {
                              std::lock_guard lock(mutex);
                              const std::string& body = manifests.size() > manifestRequests
                                                            ? manifests[manifestRequests]
                                                            : manifests.back();
                              ++manifestRequests;
                              res.set_content(body, "text/plain");
                          });
        http.server().Get("/game.zip", [this](const httplib::Request&, httplib::Response& res) {
            ++archiveRequests;
            res.set_content(archive, "application/zip");
        });
        http.start();
        sandbox.writeConfig(http.url("/LatestVersion.ini"), "1.2");
        serve({manifestFor("2.0")});
    }

    // The manifests the server hands out, one per request; the last one repeats.
    void serve(std::vector<std::string> bodies) {
        std::lock_guard lock(mutex);
        manifests = std::move(bodies);
    }

    void TearDown() override {
        const GameRecord game = readGameRecord();
        if (game.pid > 0) {
            killAndForget(game.pid);
        }
    }

    std::string manifestFor(const std::string& version) const {
        return "; Drift Moor release\r\nApplicationVersion=" + version +
               "\r\nLauncherVersion=1.2\r\nApplicationDownloadUrl=" + http.url("/game.zip") +
               "\r\n[Notes]\r\nwhatever=kept\r\n";
    }

    std::string gameExecutable() const {
        return (sandbox.dataFolder / "Drift Moor.app" / "Contents" / "MacOS" / "Drift Moor")
            .string();
    }

    GameRecord readGameRecord() const {
        if (!fs::exists(gameExecutable() + ".pid")) {
            return {};
        }
        return waitForGameRecord(gameExecutable());
    }

    LauncherSandbox sandbox;
    std::mutex mutex;
    std::vector<std::string> manifests;
    std::atomic<std::size_t> manifestRequests{0};
    std::atomic<int> archiveRequests{0};
    std::string archive;
    // Last, so that the server stops before the data its handlers read is destroyed.
    HttpTestServer http;
};

} // namespace

TEST_F(ContentInstallerTest, AFirstInstallationStartsTheGameAndRecordsTheServedManifest) {
    const ChildResult result = sandbox.run();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const GameRecord game = waitForGameRecord(gameExecutable());
    EXPECT_TRUE(processIsAlive(game.pid));
    EXPECT_EQ(readFile(sandbox.dataFolder / "CurrentVersion.ini"), manifestFor("2.0"));
    EXPECT_FALSE(fs::exists(sandbox.dataFolder / "Drift Moor.zip"));
    EXPECT_TRUE(sandbox.logHas(
        "Config loaded from config.plist: latestVersionEndpoint=" + http.url("/LatestVersion.ini") +
        ", companyFolderName=Test Company, appFolderName=Test App, "
        "appDisplayName=Drift Moor, previousInstallPath=, "
        "previousInstallCompanyFolderName=, previousInstallAppFolderName="));
    EXPECT_FALSE(sandbox.logMentions("TTF_OpenFont Error"));
    // The archive comes in range requests: its tail, the rest of what parsing reads, the entries.
    EXPECT_GE(archiveRequests.load(), 1);
    EXPECT_EQ(manifestRequests.load(), 2u) << "the installer fetches the manifest a second time";
}

TEST_F(ContentInstallerTest, AnUpdateInstallsOverTheOldVersion) {
    makeGameBundle((sandbox.dataFolder / "Drift Moor.app").string(), "Drift Moor");
    writeFile(sandbox.dataFolder / "Drift Moor.app" / "Contents" / "old-file", "kept");
    writeFile(sandbox.dataFolder / "CurrentVersion.ini", "ApplicationVersion=2.1\n");
    const ChildResult result = sandbox.run();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const auto messages = sandbox.logMessages();
    const auto at = std::find(messages.begin(), messages.end(),
                              "Current appVersion:2.1 is different than latest:2.0");
    ASSERT_NE(at, messages.end());
    ASSERT_NE(at + 1, messages.end());
    EXPECT_EQ(*(at + 1), "Starting content installer...");
    EXPECT_GT(waitForGameRecord(gameExecutable()).pid, 0);
    EXPECT_EQ(readFile(sandbox.dataFolder / "CurrentVersion.ini"), manifestFor("2.0"));
    EXPECT_TRUE(fs::exists(sandbox.dataFolder / "Drift Moor.app" / "Contents" / "old-file"));
}

TEST_F(ContentInstallerTest, TheInstallersOwnManifestFailureOpensNoWindowAndInstallsNothing) {
    serve({manifestFor("2.0"), "this line has no separator\n"});
    const ChildResult result = sandbox.run();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(sandbox.logHas("cannot get latest version info"));
    EXPECT_EQ(archiveRequests.load(), 0);
    EXPECT_FALSE(fs::exists(sandbox.dataFolder / "CurrentVersion.ini"));
}

TEST_F(ContentInstallerTest, AFontThatCannotBeOpenedLeavesOneLineAndTheInstallGoesOn) {
    sandbox.writeConfig(http.url("/LatestVersion.ini"), "1.2",
                        {{"contentInstallerFontFileName", "<string>Missing.ttf</string>"}});
    const ChildResult result = sandbox.run();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const std::string log = sandbox.logText();
    const auto first = log.find(":TTF_OpenFont Error: ");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find(":TTF_OpenFont Error: ", first + 1), std::string::npos);
    EXPECT_GT(waitForGameRecord(gameExecutable()).pid, 0);
}

TEST_F(ContentInstallerTest, StartUpFailuresEndWithOneBeforeAnythingIsDownloaded) {
    ChildResult result = sandbox.run({}, {{"SDL_VIDEODRIVER", "no-such-driver"}});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(sandbox.logMentions(":SDL_Init Error: "));

    sandbox.writeConfig(http.url("/LatestVersion.ini"), "1.2",
                        {{"contentInstallerImageWidth", "<integer>20000</integer>"}});
    result = sandbox.run();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(sandbox.logMentions(":SDL_CreateWindow Error: "));

    EXPECT_EQ(archiveRequests.load(), 0);
    EXPECT_FALSE(fs::exists(sandbox.dataFolder / "Drift Moor.app"));
}
