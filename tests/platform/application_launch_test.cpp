#include "launcher/launcher_config.h"
#include "launcher/previous_install.h"
#include "platform/application_bundle.h"
#include "platform/application_launch.h"
#include "tests/support/child_process.h"
#include "tests/support/game_bundle.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Starts nothing that outlives the test: every game a case starts is ended here.
class LaunchTest : public testing::Test {
  protected:
    void TearDown() override {
        for (int pid : started) {
            killAndForget(pid);
        }
    }
    GameRecord waitFor(const std::string& executable) {
        GameRecord record = waitForGameRecord(executable);
        started.push_back(record.pid);
        return record;
    }

    TempFolder folder{LAUNCHER_BINARY_DIR};
    std::vector<int> started;
};

} // namespace

TEST_F(LaunchTest, RunsTheExecutableNamedByInfoPlist) {
    const std::string bundle = folder.str() + "/The Game's Folder/Drift Moor.app";
    makeGameBundle(bundle, "moor-bin", {{"CFBundleExecutable", "<string>moor-bin</string>"}});
    EXPECT_EQ(applicationExecutablePath(bundle), bundle + "/Contents/MacOS/moor-bin");
    EXPECT_EQ(launchApplication(bundle), 0);
    const GameRecord record = waitFor(bundle + "/Contents/MacOS/moor-bin");
    EXPECT_TRUE(processIsAlive(record.pid));
    EXPECT_TRUE(record.arguments.empty());
}

TEST_F(LaunchTest, WithoutInfoPlistTheBundleNameNamesTheExecutable) {
    const std::string bundle = folder.str() + "/Drift Moor.app";
    makeGameBundle(bundle, "Drift Moor");
    EXPECT_EQ(launchApplicationWithArguments(bundle, {"-u", "two words"}), 0);
    const GameRecord record = waitFor(bundle + "/Contents/MacOS/Drift Moor");
    EXPECT_EQ(record.arguments, (std::vector<std::string>{"-u", "two words"}));
}

TEST_F(LaunchTest, APlainExecutableRunsAsItIs) {
    const std::string program = folder.str() + "/launcher";
    fs::copy_file(TEST_GAME_PATH, program);
    EXPECT_EQ(launchApplicationWithArguments(program, {"-u"}), 0);
    EXPECT_EQ(waitFor(program).arguments, std::vector<std::string>{"-u"});
}

TEST_F(LaunchTest, NothingToStartGivesOne) {
    EXPECT_EQ(launchApplication(folder.str() + "/Absent.app"), 1);
    EXPECT_EQ(launchApplication(""), 1);
    const std::string bundle = folder.str() + "/Empty.app";
    fs::create_directories(bundle + "/Contents/MacOS");
    EXPECT_EQ(launchApplication(bundle), 1);
    // Executable bit but not a program: the system refuses the start.
    writeFile(bundle + "/Contents/MacOS/Empty", "\x7f"
                                                "ELF garbage");
    fs::permissions(bundle + "/Contents/MacOS/Empty", fs::perms::owner_all);
    EXPECT_EQ(launchApplication(bundle), 1);
}

TEST_F(LaunchTest, PreviousInstallIsStartedWithTheSingleArgumentU) {
    const std::string company = "Old Company";
    makeGameBundle(folder.str() + "/" + company + "/Old.app", "Old");
    launcherConfig.previousInstallPath = folder.str();
    launcherConfig.previousInstallCompanyFolderName = company;
    launcherConfig.previousInstallAppFolderName = "Old.app";
    launchPreviousInstallUninstaller();
    const GameRecord record = waitFor(folder.str() + "/" + company + "/Old.app/Contents/MacOS/Old");
    EXPECT_EQ(record.arguments, std::vector<std::string>{"-u"});
    launcherConfig = LauncherConfig{};
}

TEST_F(LaunchTest, OnlyTheStandardDescriptorsReachTheStartedProgram) {
    // What libraries leave open without close-on-exec: a file and a socket pair.
    const std::string bundle = folder.str() + "/Drift Moor.app";
    makeGameBundle(bundle, "Drift Moor");
    const int file = open((bundle + "/Contents/MacOS/Drift Moor").c_str(), O_RDONLY);
    int pair[2] = {-1, -1};
    ASSERT_GE(file, 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const int launched = launchApplication(bundle);
    close(file);
    close(pair[0]);
    close(pair[1]);
    EXPECT_EQ(launched, 0);
    EXPECT_EQ(waitFor(bundle + "/Contents/MacOS/Drift Moor").descriptors,
              (std::vector<int>{0, 1, 2}));
}
