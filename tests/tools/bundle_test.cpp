#include "platform/application_bundle.h"
#include "platform/application_launch.h"
#include "platform/property_list.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/publish_tool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Waits (up to a generous limit) for the sample game's "<name> <version> <pid>" line.
std::string waitForRecordLine(const fs::path& record) {
    for (int i = 0; i < 500; ++i) {
        const std::string text = fs::exists(record) ? readFile(record) : "";
        if (!text.empty() && text.back() == '\n') {
            return text.substr(0, text.size() - 1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
}

int pidOf(const std::string& recordLine) {
    const auto blank = recordLine.rfind(' ');
    return blank == std::string::npos ? 0 : std::atoi(recordLine.c_str() + blank + 1);
}

// Environment for the sample game started from this test: no window, record into file.
class QuietGame {
  public:
    explicit QuietGame(const fs::path& record) {
        setenv("SAMPLE_GAME_QUIET", "1", 1);
        setenv("SAMPLE_GAME_RECORD", record.c_str(), 1);
    }
    ~QuietGame() {
        unsetenv("SAMPLE_GAME_QUIET");
        unsetenv("SAMPLE_GAME_RECORD");
    }
};

class BundleTest : public testing::Test {
  protected:
    ChildResult bundle(const std::string& version, std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"bundle",
                                              "--executable",
                                              SAMPLE_GAME,
                                              "--name",
                                              "Drift Moor",
                                              "--version",
                                              version,
                                              "--prefix",
                                              "Quillmere-",
                                              "--output-folder",
                                              (folder / version).string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return publish(arguments);
    }
    fs::path bundlePath(const std::string& version) const {
        return folder / version / "Quillmere-Drift Moor.app";
    }

    TempFolder folder;
};

} // namespace

TEST_F(BundleTest, MakesTheBundleTheLauncherLooksFor) {
    writeFile(folder / "notes.txt", "release notes");
    const ChildResult result = bundle("1.1", {"--identifier", "com.quillmere.driftmoor",
                                              "--resource", (folder / "notes.txt").string()});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const fs::path app = bundlePath("1.1");
    // The launcher's own lookup finds the executable through CFBundleExecutable.
    EXPECT_EQ(applicationExecutablePath(app.string()),
              (app / "Contents" / "MacOS" / "sample_game").string());
    std::string problem;
    const auto info =
        loadPropertyListDictionary((app / "Contents" / "Info.plist").string(), problem);
    ASSERT_TRUE(info) << problem;
    EXPECT_EQ(propertyListString(*info, "CFBundleDisplayName"), "Drift Moor");
    EXPECT_EQ(propertyListString(*info, "CFBundleShortVersionString"), "1.1");
    EXPECT_EQ(propertyListString(*info, "CFBundleIdentifier"), "com.quillmere.driftmoor");
    EXPECT_EQ(readFile(app / "Contents" / "Resources" / "notes.txt"), "release notes");
}

TEST_F(BundleTest, RefusesToOverwriteUnlessAskedAndRejectsBadNames) {
    ASSERT_EQ(bundle("1.0").exitStatus, 0);
    writeFile(bundlePath("1.0") / "Contents" / "Resources" / "stale.txt", "old");
    ChildResult result = bundle("1.0");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("is already there (--replace replaces it)"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(bundlePath("1.0") / "Contents" / "Resources" / "stale.txt"));
    ASSERT_EQ(bundle("1.0", {"--replace"}).exitStatus, 0);
    EXPECT_FALSE(fs::exists(bundlePath("1.0") / "Contents" / "Resources" / "stale.txt"));

    result = publish({"bundle", "--executable", SAMPLE_GAME, "--name", "a/b", "--version", "1",
                      "--output-folder", folder.str()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("must not hold \"/\""), std::string::npos);
    result = publish({"bundle", "--executable", SAMPLE_GAME, "--name", "Game", "--version", "1",
                      "--prefix", "The ", "--output-folder", folder.str()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("--prefix must not start or end with a blank"),
              std::string::npos);
    result = publish({"bundle", "--name", "Game", "--version", "1"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find("missing --executable, --output-folder"),
              std::string::npos);
}

// One binary serves every release: packed, unpacked and started the way the launcher starts
// it, each bundle reports its own version.
TEST_F(BundleTest, SampleGameShowsTheVersionOfItsBundle) {
    const fs::path record = folder / "record.txt";
    QuietGame quiet(record);
    for (const std::string version : {"1.0", "1.1"}) {
        SCOPED_TRACE(version);
        fs::remove(record);
        ASSERT_EQ(bundle(version).exitStatus, 0);
        const fs::path archive = folder / ("game-" + version + ".zip");
        ASSERT_EQ(publish({"pack", bundlePath(version).string(), "--output", archive.string()})
                      .exitStatus,
                  0);
        const fs::path installed = folder / ("installed-" + version);
        fs::create_directories(installed);
        ASSERT_EQ(runChild("/usr/bin/unzip", {"-q", archive.string(), "-d", installed.string()})
                      .exitStatus,
                  0);

        ASSERT_EQ(launchApplication((installed / "Quillmere-Drift Moor.app").string()), 0);
        const std::string line = waitForRecordLine(record);
        const int pid = pidOf(line);
        killAndForget(pid);
        EXPECT_GT(pid, 0);
        EXPECT_EQ(line, "Drift Moor " + version + " " + std::to_string(pid));
    }
}

TEST(SampleGame, OutsideABundleItUsesItsDefaults) {
    TempFolder folder;
    const ChildResult result = runChild(SAMPLE_GAME, {},
                                        {{"SAMPLE_GAME_QUIET", "1"},
                                         {"SAMPLE_GAME_SECONDS", "0"},
                                         {"SAMPLE_GAME_RECORD", (folder / "record.txt").string()}});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput, "Sample Game unknown\n");
    EXPECT_EQ(readFile(folder / "record.txt").rfind("Sample Game unknown ", 0), 0u);
}
