// Names that would lead the launcher's writes or starts out of the folder they belong in: a
// display name or executable prefix that is not a single name. The built bundle against nginx.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class UnsafeNames : public AcceptanceTest {};

} // namespace

TEST_F(UnsafeNames, ADisplayNameThatLeavesTheDataFolderInstallsNothing) {
    SKIP_WITHOUT_DISPLAY(); // the installer window would open were the name taken
    publishManifest("1.0", publishGame("1.0"), "", "1.0");
    configure("1.0", "/LatestVersion.ini", {{"appDisplayName", "<string>../Escape</string>"}});
    // Where the archive would land: next to the data folder.
    const fs::path outside = dataFolder.parent_path() / "Escape.zip";
    writeFile(outside, "a file of the player's");

    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    EXPECT_TRUE(lastRunHas("Refusing appDisplayName '../Escape': it must be a single name"));
    EXPECT_EQ(readFile(outside), "a file of the player's");
    EXPECT_EQ(requestsFor("GET /game-1.0.zip"), 0);
    EXPECT_FALSE(fs::exists(dataFolder / "CurrentVersion.ini"));
}

TEST_F(UnsafeNames, ADisplayNameThatLeavesTheTemporaryFolderUpdatesNothing) {
    publishManifest("1.0", publishGame("1.0"), "", "2.0", publishLauncherInstaller("2.0"));
    configure("1.0", "/LatestVersion.ini", {{"appDisplayName", "<string>../Escape</string>"}});
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    EXPECT_TRUE(lastRunHas("Refusing appDisplayName '../Escape': it must be a single name"));
    EXPECT_EQ(requestsFor("GET /launcher-2.0.zip"), 0);
    EXPECT_FALSE(fs::exists(sandbox.temporaryFolder / "Escape.zip"));
}

TEST_F(UnsafeNames, AnExecutablePrefixThatLeavesTheDataFolderStartsNothing) {
    SKIP_WITHOUT_DISPLAY();
    publishManifest("1.0", publishGame("1.0"), "", "1.0");
    configure("1.0", "/LatestVersion.ini");
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    started.stopAll();

    // A game bundle lies two levels up; a careless manifest names it through its prefix.
    const fs::path elsewhere = dataFolder.parent_path().parent_path() / "Elsewhere";
    fs::create_directories(elsewhere);
    fs::copy(dataFolder / gameBundleName(), elsewhere / gameBundleName(),
             fs::copy_options::recursive);
    writeFile(releases / "LatestVersion.ini",
              "ApplicationVersion=1.0\nApplicationDownloadUrl=" + server->url("/game-1.0.zip") +
                  "\nApplicationExecutablePrefix=../../Elsewhere/\nLauncherVersion=1.0\n");

    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    EXPECT_TRUE(lastRunHas("Refusing application bundle name '../../Elsewhere/" + gameBundleName() +
                           "': it must be a single name"));
    EXPECT_EQ(readGameStarts(gameRecord).size(), 1u) << "a game was started";
    EXPECT_TRUE(processesRunningFrom(elsewhere).empty());
}
