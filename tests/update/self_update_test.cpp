#include "update/self_update.h"

#include "tests/support/child_process.h"
#include "tests/support/other_user.h"
#include "tests/update/download_test_support.h"

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Points the temporary directory somewhere of the test's own for the test's length.
struct TemporaryDirectoryOverride {
    std::string saved;
    bool hadValue = false;
    explicit TemporaryDirectoryOverride(const std::string& folder) {
        if (const char* value = std::getenv("TMPDIR")) {
            saved = value;
            hadValue = true;
        }
        setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TemporaryDirectoryOverride() {
        if (hadValue) {
            setenv("TMPDIR", saved.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
};

class SelfUpdateTest : public LoggedTest {
  protected:
    TempFolder scratch;
    GameReaper installer{scratch / "installer.pid"};
    fs::path temporary = scratch / "tmp";

    void SetUp() override {
        LoggedTest::SetUp();
        fs::create_directories(temporary);
    }

    // The launcher flow's call: the manifest that named the installer, and the two settings.
    int selfUpdate() const { return selfUpdateLauncher(manifest, "Driftmoor", appDisplayName, {}); }
    CheckedManifest manifest;
    std::string appDisplayName = "Drift Moor";

    // Where the installer lands: the temporary directory's "/" and one more.
    std::string updateFolder() const { return temporary.string() + "//Driftmoor"; }

    std::string installerArchive(const std::string& version) const {
        return zipBytes(scratch, {gameExecutableEntry("Drift Moor", scratch / "installer.pid"),
                                  fileEntry("Drift Moor.app/Contents/Resources/version", version)});
    }
};

TEST_F(SelfUpdateTest, AnEmptyInstallerUrlFailsWithBothLines) {
    const TemporaryDirectoryOverride tmp(temporary.string());
    manifest.info.LauncherInstallerDownloadUrl.clear();

    EXPECT_EQ(selfUpdate(), 1);
    EXPECT_TRUE(logged("curl_easy_perform() failed: URL using bad/illegal format or missing URL"))
        << log();
    EXPECT_TRUE(logged("Failed to curl and install from launcher"));
    EXPECT_TRUE(fs::is_directory(updateFolder()));
}

TEST_F(SelfUpdateTest, ABundleNamedOtherwiseIsNotFound) {
    const TemporaryDirectoryOverride tmp(temporary.string());
    ContentServer server(
        zipBytes(scratch, {fileEntry("Launcher.app/Contents/MacOS/Launcher", "x", 0755)}));
    manifest.info.LauncherInstallerDownloadUrl = server.url("/game.zip");

    EXPECT_EQ(selfUpdate(), 1);
    EXPECT_TRUE(logged("app executable not found after unzipping! appExecutableNS: " +
                       updateFolder() + "/Drift Moor.app"))
        << log();
    EXPECT_TRUE(logged("Failed to curl and install from launcher"));
}

TEST_F(SelfUpdateTest, ASecondUpdateOverTheLeftoverFolderReplacesTheInstaller) {
    const TemporaryDirectoryOverride tmp(temporary.string());
    ContentServer first(installerArchive("1"));
    manifest.info.LauncherInstallerDownloadUrl = first.url("/game.zip");
    ASSERT_EQ(selfUpdate(), 0) << log();
    const int firstPid = waitForPid(scratch / "installer.pid");
    ASSERT_GT(firstPid, 0);
    killAndForget(firstPid);
    fs::remove(scratch / "installer.pid");

    ContentServer second(installerArchive("2"));
    manifest.info.LauncherInstallerDownloadUrl = second.url("/game.zip");
    EXPECT_EQ(selfUpdate(), 0) << log();
    EXPECT_GT(waitForPid(scratch / "installer.pid"), 0);
    EXPECT_EQ(readFile(updateFolder() + "/Drift Moor.app/Contents/Resources/version"), "2");
    EXPECT_FALSE(fs::exists(updateFolder() + "/Drift Moor.zip"));
}

TEST_F(SelfUpdateTest, AnUncreatableTemporaryFolderFails) {
    writeFile(scratch / "not-a-folder", "x");
    const TemporaryDirectoryOverride tmp((scratch / "not-a-folder").string());
    manifest.info.LauncherInstallerDownloadUrl = "http://127.0.0.1:1/never.zip";

    EXPECT_EQ(selfUpdate(), 1);
    EXPECT_TRUE(logged("Failed to create temporary folder!"));
    EXPECT_FALSE(log().find("performToFileCurlAndExecute start") != std::string::npos);
}

TEST_F(SelfUpdateTest, ADisplayNameThatLeavesTheFolderIsRefusedBeforeAnything) {
    const TemporaryDirectoryOverride tmp(temporary.string());
    ContentServer server(installerArchive("2"));
    manifest.info.LauncherInstallerDownloadUrl = server.url("/game.zip");
    appDisplayName = "../Drift Moor";
    EXPECT_EQ(selfUpdate(), 1);
    EXPECT_TRUE(logged("Refusing appDisplayName '../Drift Moor': it must be a single name"))
        << log();
    EXPECT_EQ(server.archiveRequests(), 0);
    EXPECT_FALSE(fs::exists(temporary / "Drift Moor.zip"));
    EXPECT_FALSE(fs::exists(updateFolder()));
}

TEST_F(SelfUpdateTest, AFolderThatIsALinkIsNotWrittenInto) {
    const TemporaryDirectoryOverride tmp(temporary.string());
    fs::create_directories(scratch / "elsewhere");
    fs::create_directory_symlink(scratch / "elsewhere", temporary / "Driftmoor");
    ContentServer server(installerArchive("2"));
    manifest.info.LauncherInstallerDownloadUrl = server.url("/game.zip");
    EXPECT_EQ(selfUpdate(), 1);
    EXPECT_TRUE(logged("Refusing temporary folder " + updateFolder() + ": it is a link")) << log();
    EXPECT_EQ(server.archiveRequests(), 0);
    EXPECT_TRUE(fs::is_empty(scratch / "elsewhere"));
}

TEST_F(SelfUpdateTest, ALeftoverFolderOthersMayWriteToIsTakenBackFirst) {
    const TemporaryDirectoryOverride tmp(temporary.string());
    fs::create_directories(updateFolder());
    fs::permissions(updateFolder(), fs::perms(0777)); // as a umask of 0 would leave it
    ContentServer server(installerArchive("2"));
    manifest.info.LauncherInstallerDownloadUrl = server.url("/game.zip");
    EXPECT_EQ(selfUpdate(), 0) << log();
    EXPECT_GT(waitForPid(scratch / "installer.pid"), 0);
    EXPECT_EQ(fs::status(updateFolder()).permissions(), fs::perms(0755));
}

TEST_F(SelfUpdateTest, AFolderAnotherUserMadeInASharedTmpdirIsRefused) {
    const OtherUser nobody = otherUser();
    SKIP_WITHOUT_OTHER_USER(nobody);
    TempFolder shared("/tmp");
    fs::permissions(shared.path(), fs::perms(01777));
    const TemporaryDirectoryOverride tmp(shared.str());
    const std::string theirs = shared.str() + "/Driftmoor";
    ASSERT_TRUE(runAs(nobody, [&] { return ::mkdir(theirs.c_str(), 0777) == 0; }));
    ContentServer server(installerArchive("2"));
    manifest.info.LauncherInstallerDownloadUrl = server.url("/game.zip");
    EXPECT_EQ(selfUpdate(), 1);
    EXPECT_TRUE(logged("Refusing temporary folder " + shared.str() +
                       "//Driftmoor: it belongs to another user"))
        << log();
    EXPECT_EQ(server.archiveRequests(), 0);
    EXPECT_TRUE(fs::is_empty(theirs));
}

// The launcher as users run it: its own bundle copy, settings pointing at the loopback server.
struct LauncherCopy {
    fs::path bundle;
    LauncherCopy(const fs::path& folder, const std::string& manifestUrl)
        : bundle(folder / "Launcher.app") {
        fs::create_directories(folder);
        fs::copy(LAUNCHER_BUNDLE_DIR, bundle, fs::copy_options::recursive);
        const fs::path config = bundle / "Contents/Resources/config.plist";
        std::string text = readFile(config);
        const std::string key = "<key>latestVersionEndpoint</key>";
        const auto start = text.find("<string>", text.find(key)) + 8;
        text.replace(start, text.find("</string>", start) - start, manifestUrl);
        writeFile(config, text);
    }
    ChildResult run(const fs::path& home) const {
        return runChild((bundle / "Contents/MacOS/launcher").string(), {},
                        {{"HOME", home.string()},
                         {"XDG_DATA_HOME", (home / "data").string()},
                         {"TMPDIR", (home / "tmp").string()}});
    }
};

TEST_F(SelfUpdateTest, TheLauncherStartsTheInstallerAndEndsWithItsResult) {
    ContentServer installers(installerArchive("2"),
                             {{"/broken.zip", zipBytes(scratch, {fileEntry("readme.txt", "x")})}});
    const std::string manifest = "ApplicationVersion=1.0\nLauncherVersion=2.0\n"
                                 "LauncherInstallerDownloadUrl=" +
                                 installers.url("/game.zip") + "\n";
    const std::string brokenManifest =
        "LauncherVersion=2.0\nLauncherInstallerDownloadUrl=" + installers.url("/broken.zip") + "\n";
    ContentServer manifests("",
                            {{"/LatestVersion.ini", manifest}, {"/Broken.ini", brokenManifest}});
    fs::create_directories(scratch / "home/tmp");
    fs::create_directories(scratch / "home2/tmp");

    const LauncherCopy launcher(scratch / "apps", manifests.url("/LatestVersion.ini"));
    const ChildResult updated = launcher.run(scratch / "home");
    EXPECT_EQ(updated.exitStatus, 0) << updated.standardError;
    const int pid = waitForPid(scratch / "installer.pid");
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(
        fs::exists(scratch / "home/tmp/Driftmoor/Drift Moor.app/Contents/MacOS/Drift Moor"));
    killAndForget(pid);

    const LauncherCopy broken(scratch / "apps2", manifests.url("/Broken.ini"));
    const ChildResult failed = broken.run(scratch / "home2");
    EXPECT_EQ(failed.exitStatus, 1);
    const std::string runLog = readFile(scratch / "home2/data/Quillmere/Driftmoor/out.log");
    EXPECT_NE(runLog.find(":Failed to curl and install from launcher\n"), std::string::npos)
        << runLog;
}

} // namespace
