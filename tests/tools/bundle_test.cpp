#include "launcher/launcher_config.h"
#include "platform/application_bundle.h"
#include "platform/application_launch.h"
#include "platform/property_list.h"
#include "tests/support/manifest_server.h"
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

// A folder goes whole into Contents/Resources, its links as links; a link that leads out of it
// would point at whatever the player's disk has there, so the bundle is refused and not made.
TEST_F(BundleTest, ResourceFoldersKeepTheirLinksInside) {
    struct Case {
        std::string target;
        bool accepted;
    };
    const Case cases[] = {
        {"levels/one.txt", true}, {"../levels/one.txt", false}, {"/etc/passwd", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const fs::path assets = folder / "Assets";
        fs::remove_all(assets);
        fs::remove_all(folder / "1.0");
        writeFile(assets / "levels" / "one.txt", "level one");
        fs::create_symlink(c.target, assets / "first");
        const ChildResult result = bundle("1.0", {"--resource", assets.string() + "/"});
        EXPECT_EQ(result.exitStatus, c.accepted ? 0 : 1) << result.standardError;
        EXPECT_EQ(fs::exists(bundlePath("1.0")), c.accepted);
        if (!c.accepted) {
            EXPECT_NE(result.standardError.find("points outside it (" + c.target + ")"),
                      std::string::npos)
                << result.standardError;
            continue;
        }
        const fs::path copied = bundlePath("1.0") / "Contents" / "Resources" / "Assets";
        EXPECT_EQ(readFile(copied / "levels" / "one.txt"), "level one");
        EXPECT_TRUE(fs::is_symlink(copied / "first"));
        EXPECT_EQ(fs::read_symlink(copied / "first"), c.target);
        EXPECT_EQ(publish({"pack", bundlePath("1.0").string(), "--output",
                           (folder / "game.zip").string()})
                      .exitStatus,
                  0);
    }
}

namespace {

// The launcher command's options for a studio; a case replaces or adds some.
std::vector<std::string> launcherOptions(const fs::path& output, const std::string& endpoint,
                                         const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"launcher",
                                          "--bundle",
                                          LAUNCHER_BUNDLE_DIR,
                                          "--output-folder",
                                          output.string(),
                                          "--name",
                                          "Moor Game",
                                          "--endpoint",
                                          endpoint,
                                          "--company",
                                          "Studio",
                                          "--app-folder",
                                          "MoorGame",
                                          "--launcher-version",
                                          "2.5"};
    for (std::size_t i = 0; i + 1 < extra.size(); i += 2) {
        const auto same = std::find(arguments.begin(), arguments.end(), extra[i]);
        if (same != arguments.end() && extra[i] != "--public-key") {
            *(same + 1) = extra[i + 1];
        } else {
            arguments.insert(arguments.end(), {extra[i], extra[i + 1]});
        }
    }
    return arguments;
}

std::string newPublicKey(const fs::path& file) {
    const ChildResult made = publish({"keygen", "--output", file.string()});
    return made.standardOutput.substr(0, made.standardOutput.find('\n'));
}

} // namespace

// The bundle the launcher command makes is read by the launcher's own config reader, started
// as a launcher, and shipped in an installer that holds <appDisplayName>.app.
TEST_F(BundleTest, LauncherCommandMakesTheBundleTheLauncherReads) {
    const std::string first = newPublicKey(folder / "a.pem");
    const std::string second = newPublicKey(folder / "b.pem");
    ManifestServer server; // serves no manifest: the launcher ends after reading its settings
    const fs::path output = folder / "studio";
    const ChildResult made = publish(launcherOptions(output, server.manifestUrl(),
                                                     {"--public-key", first, "--public-key", second,
                                                      "--threshold", "2", "--offline-play", "0"}));
    ASSERT_EQ(made.exitStatus, 0) << made.standardError;
    const fs::path app = output / "Moor Game.app";
    EXPECT_NE(made.standardOutput.find("made " + app.string() + "\n"), std::string::npos)
        << made.standardOutput;

    loadLauncherConfigFrom((app / "Contents" / "Resources" / "config.plist").string(), "en");
    EXPECT_EQ(launcherConfig.latestVersionEndpoint, server.manifestUrl());
    EXPECT_EQ(launcherConfig.appDisplayName, "Moor Game");
    EXPECT_EQ(launcherConfig.companyFolderName, "Studio");
    EXPECT_EQ(launcherConfig.appFolderName, "MoorGame");
    EXPECT_EQ(launcherConfig.launcherVersion, "2.5");
    EXPECT_EQ(launcherConfig.releaseSigningPublicKey, first + ", " + second);
    EXPECT_EQ(launcherConfig.releaseSigningThreshold, 2);
    EXPECT_EQ(launcherConfig.startInstalledGameWhenOffline, 0);
    EXPECT_EQ(launcherConfig.contentTransferConnections, 4); // the built bundle's keys stay
    std::string problem;
    const auto info =
        loadPropertyListDictionary((app / "Contents" / "Info.plist").string(), problem);
    ASSERT_TRUE(info) << problem;
    EXPECT_EQ(propertyListString(*info, "CFBundleName"), "Moor Game");
    EXPECT_EQ(propertyListString(*info, "CFBundleDisplayName"), "Moor Game");
    EXPECT_EQ(propertyListString(*info, "CFBundleShortVersionString"), "2.5");
    EXPECT_EQ(applicationExecutablePath(app.string()),
              (app / "Contents" / "MacOS" / "launcher").string());

    std::vector<std::string> names;
    for (const ArchiveEntry& entry : readArchive(output / "Moor Game.zip")) {
        names.push_back(entry.name);
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "Moor Game.app/Contents/MacOS/launcher"),
              names.end());

    const fs::path data = folder / "data";
    fs::create_directories(folder / "home");
    const ChildResult run = runChild((app / "Contents" / "MacOS" / "launcher").string(), {},
                                     {{"HOME", (folder / "home").string()},
                                      {"XDG_DATA_HOME", data.string()},
                                      {"TMPDIR", (folder / "home").string() + "/"}});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(
        readFile(data / "Studio" / "MoorGame" / "out.log")
            .find("Config loaded from config.plist: latestVersionEndpoint=" + server.manifestUrl() +
                  ", launcherVersion=2.5, companyFolderName=Studio, "
                  "appFolderName=MoorGame, appDisplayName=Moor Game"),
        std::string::npos);
    EXPECT_EQ(server.manifestRequests(), 1);
}

// Values the launcher would refuse are refused, with one line, and nothing is made.
TEST_F(BundleTest, LauncherCommandRefusesWhatTheLauncherWouldRefuse) {
    const std::string key = newPublicKey(folder / "a.pem");
    struct Case {
        std::vector<std::string> options;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"--name", ""}, 1, "--name \"\" must be a single name"},
        {{"--name", "a/b"}, 1, "--name \"a/b\" must be a single name"},
        {{"--company", ".."}, 1, "--company \"..\" must be a single name"},
        {{"--app-folder", "x/y"}, 1, "--app-folder \"x/y\" must be a single name"},
        {{"--endpoint", "ftp://example.invalid/LatestVersion.ini"},
         1,
         "is not an http:// or https:// URL"},
        {{"--launcher-version", "2.5 "}, 1, "the launcher would update itself on every run"},
        {{"--launcher-version", "2.5 ; beta"}, 1, "the launcher would update itself on every run"},
        {{"--public-key", "bm90IGEga2V5"}, 1, "is not base64 of 32 bytes"},
        {{"--public-key", key, "--threshold", "2"},
         1,
         "a threshold of 2 needs as many different public keys, there are 1"},
        {{"--public-key", key, "--public-key", key, "--threshold", "2"},
         1,
         "a threshold of 2 needs as many different public keys, there are 1"},
        {{"--threshold", "2"}, 1, "a threshold of 2 needs as many different public keys"},
        {{"--offline-play", "yes"}, 2, "--offline-play takes 0 or 1"},
        {{"--bundle", folder.str()}, 1, "is no launcher bundle"},
    };
    const fs::path output = folder / "studio";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const ChildResult result =
            publish(launcherOptions(output, "http://127.0.0.1/LatestVersion.ini", c.options));
        EXPECT_EQ(result.exitStatus, c.status);
        EXPECT_NE(result.standardError.find(c.message), std::string::npos) << result.standardError;
        EXPECT_EQ(std::count(result.standardError.begin(), result.standardError.end(), '\n'), 1);
        EXPECT_FALSE(fs::exists(output));
    }
}
