// Self-updates that go wrong, end to end against nginx: an installer that cannot be had leaves
// the game to the launcher that is there, and a self-updated launcher that could not move out of
// the temporary folder it was unpacked into keeps that folder.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/temp_folder.h"

#include "launcher/launcher_flow.h"

#include <curl/curl.h>

namespace fs = std::filesystem;

namespace {

class SelfUpdateFaults : public AcceptanceTest {
  protected:
    // The manifest names game 1.0 at gameArchive and launcher 2.0 at installerUrl; the launcher
    // is 1.0.
    void announce(const std::string& gameArchive, const std::string& installerUrl,
                  const PlistEntries& extra = {}) {
        runPublish({"manifest", "--application-version", "1.0", "--application-url",
                    server->url(gameArchive), "--executable-prefix", "", "--launcher-version",
                    "2.0", "--launcher-url", installerUrl, "--output",
                    (releases / "LatestVersion.ini").string()});
        configure("1.0", "/LatestVersion.ini", extra);
    }

    // The run went on with the content step after the failed self-update's lines.
    void expectContentStepAfterTheFailure() const {
        EXPECT_TRUE(
            lastRunHasInOrder("Failed to curl and install from launcher", selfUpdateFailedMessage));
        EXPECT_TRUE(lastRunMentions("performToFileCurlAndExecute start - url:" +
                                    server->url("/game-1.0.zip")));
    }

    // No installer runs from the temporary folder.
    void expectNoInstallerStarted() const {
        EXPECT_TRUE(processesRunningFrom(sandbox.temporaryFolder).empty());
    }
};

} // namespace

TEST_F(SelfUpdateFaults, AnInstallerNotUploadedYetLeavesTheGameToThisLauncher) {
    SKIP_WITHOUT_DISPLAY();
    // Neither archive is there yet: the exit status is the content step's.
    announce("/game-1.0.zip", server->url("/launcher-2.0.zip"));
    ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(requestsFor("GET /launcher-2.0.zip 404"), 1);
    expectContentStepAfterTheFailure();

    // The game is published; the installer still is not.
    publishGame("1.0");
    result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    expectContentStepAfterTheFailure();
    auto starts = gameStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].version, "1.0");
    EXPECT_EQ(executableOf(starts[0].pid),
              (dataFolder / gameBundleName() / "Contents" / "MacOS" / "sample_game").string());
    expectNoInstallerStarted();
    started.stopAll();

    // Every later run tries the self-update again, then starts the installed game.
    result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(
        lastRunHasInOrder("Failed to curl and install from launcher", selfUpdateFailedMessage));
    EXPECT_TRUE(lastRunHas("comparing latest endpoint version: 1.0 to app CurrentVersion "
                           "appVersion: 1.0"));
    EXPECT_EQ(gameStarts(2).size(), 2u);
    EXPECT_EQ(requestsFor("GET /launcher-2.0.zip 404"), 3);
}

TEST_F(SelfUpdateFaults, AnInstallerBehindAnUntrustedCertificateLeavesTheGameToThisLauncher) {
    SKIP_WITHOUT_DISPLAY();
    const std::string installer = publishLauncherInstaller("2.0");
    publishGame("1.0");
    const NginxServer secure(releases, NginxServer::Options{.https = true});
    announce("/game-1.0.zip", secure.url(installer),
             {{"verifyServerCertificates", "<integer>1</integer>"}});
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(lastRunHasInOrder(std::string("curl_easy_perform() failed: ") +
                                      curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION),
                                  "Failed to curl and install from launcher"));
    expectContentStepAfterTheFailure();
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(gameStarts(1)[0].version, "1.0");
    expectNoInstallerStarted();
}

// The self-updated launcher (2.0) in the temporary folder it was unpacked into, as the old one
// started it; /opt is read-only in a private mount namespace, so its move there fails and it
// runs on from where it is.
TEST_F(SelfUpdateFaults, ASelfUpdatedLauncherThatCouldNotMoveKeepsItsOwnFolder) {
    SKIP_WITHOUT_DISPLAY();
    if (!privateMountsWork()) {
        GTEST_SKIP() << "needs root and unshare to make /opt read-only";
    }
    publishManifest("1.0", publishGame("1.0"), "", "2.0");
    configure("2.0", "/LatestVersion.ini");
    const fs::path unpacked = sandbox.temporaryFolder / "Test App";
    const fs::path bundle = unpacked / (displayName + ".app");
    fs::create_directories(unpacked);
    fs::copy(sandbox.bundle, bundle, fs::copy_options::recursive);
    const fs::path readOnly = sandbox.root / "read-only opt";
    fs::create_directories(readOnly);

    const std::string script =
        "mount --bind \"$0\" /opt && mount -o remount,bind,ro /opt && exec \"$1\"";
    const ChildResult result = runChild("/usr/bin/unshare",
                                        {"-m", "/bin/sh", "-c", script, readOnly.string(),
                                         (bundle / "Contents" / "MacOS" / "launcher").string()},
                                        launcherRunEnvironment(), std::chrono::seconds(120));
    EXPECT_NE(result.standardError.find("Could not copy myself"), std::string::npos)
        << "the move must have been declined: " << result.standardError;
    EXPECT_EQ(result.exitStatus, 0) << result.standardError << sandbox.logText();
    EXPECT_TRUE(sandbox.logHas("Not removing the leftover self-update folder " +
                               sandbox.temporaryFolder.string() + "//Test App" +
                               ": the running launcher is inside it"))
        << sandbox.logText();
    EXPECT_TRUE(fs::exists(bundle / "Contents" / "Frameworks" / "liblauncher_ui.so"));
    const auto starts = gameStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].version, "1.0");
}
