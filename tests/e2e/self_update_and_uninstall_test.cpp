// The launcher's two roads that leave the content alone (self-update) or take it away
// (uninstall mode), end to end against nginx.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/temp_folder.h"

#include "platform/process_start.h"

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class SelfUpdate : public AcceptanceTest {
  protected:
    // The launcher (1.0) is told that launcher 2.0 is out, packed as installerBundle.
    void announceLauncher(const std::string& installerBundle = "") {
        const std::string installer = publishLauncherInstaller("2.0", installerBundle);
        publishManifest("1.0", publishGame("1.0"), "", "2.0", installer);
        configure("1.0", "/LatestVersion.ini");
    }

    // The temporary folder as the launcher spells it: TMPDIR ends with "/" and another one
    // joins the app folder's name.
    std::string installerFolder() const { return sandbox.temporaryFolder.string() + "//Test App/"; }

    // The built launcher, configured as version, packed by launcher-publish as the launcher
    // installer releases/launcher-<version>.zip; returns its URL path.
    std::string publishBuiltLauncher(const std::string& version) {
        configure(version, "/LatestVersion.ini");
        const fs::path folder = staging / ("launcher-" + version);
        fs::create_directories(folder);
        fs::copy(sandbox.bundle, folder / (displayName + ".app"), fs::copy_options::recursive);
        const std::string archive = "launcher-" + version + ".zip";
        runPublish({"pack", (folder / (displayName + ".app")).string(), "--output",
                    (releases / archive).string()});
        return "/" + archive;
    }

    void expectContentUntouched() const {
        EXPECT_FALSE(lastRunMentions("comparing latest endpoint version"));
        EXPECT_FALSE(fs::exists(dataFolder / gameBundleName()));
        EXPECT_FALSE(fs::exists(dataFolder / "CurrentVersion.ini"));
        EXPECT_EQ(requestsFor("GET /game-1.0.zip"), 0);
    }
};

} // namespace

TEST_F(SelfUpdate, AnotherLauncherVersionStartsItsInstallerAndEndsWithItsResult) {
    announceLauncher();
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;

    expectOneStart("2.0", sandbox.temporaryFolder / "Test App" / (displayName + ".app"));
    EXPECT_TRUE(
        lastRunHas("comparing endpoint launcher version:2.0 to config installer version:1.0..."));
    EXPECT_TRUE(lastRunHas(
        "performToFileCurlAndExecute start - url:" + server->url("/launcher-2.0.zip") +
        " downloadToFilePath:" + installerFolder() + " downloadToFileName:" + displayName +
        ".zip downloadedExecutableToRun:" + displayName + ".app"));
    EXPECT_FALSE(fs::exists(installerFolder() + displayName + ".zip"));
    EXPECT_EQ(requestsFor("GET /launcher-2.0.zip 200 \"libcurl-agent/1.0\""), 1);
    expectContentUntouched();
}

// A failed self-update no longer ends the run: the content step follows, and its result is the
// exit status (here the game installed and started by this launcher).
TEST_F(SelfUpdate, AnInstallerUnderAnotherNameLeavesTheGameToThisLauncher) {
    SKIP_WITHOUT_DISPLAY();
    announceLauncher("Some Other Launcher.app");
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(lastRunHasInOrder("app executable not found after unzipping! appExecutableNS: " +
                                      installerFolder() + displayName + ".app",
                                  "Failed to curl and install from launcher"));
    EXPECT_TRUE(processesRunningFrom(sandbox.temporaryFolder).empty());
    const auto starts = gameStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].version, "1.0");
    EXPECT_EQ(executableOf(starts[0].pid),
              (dataFolder / gameBundleName() / "Contents" / "MacOS" / "sample_game").string());
}

TEST_F(SelfUpdate, TheLeftoverInstallerFolderGoesOnceTheLauncherIsCurrent) {
    SKIP_WITHOUT_DISPLAY();
    announceLauncher();
    ASSERT_EQ(runLauncher().exitStatus, 0);
    started.stopAll();
    ASSERT_TRUE(fs::exists(installerFolder()));

    publishManifest("1.0", "/game-1.0.zip", "", "1.0");
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_FALSE(fs::exists(installerFolder()));
    EXPECT_TRUE(fs::exists(sandbox.temporaryFolder));
    EXPECT_FALSE(lastRunMentions("Unable to remove folder"));
    EXPECT_EQ(waitForGameStarts(gameRecord, 2).back().version, "1.0");
}

namespace {

// Waits (bounded, polling) until no process runs from folder.
bool noneRunsSoonFrom(const fs::path& folder) {
    for (int i = 0; i < 2400; ++i) {
        if (processesRunningFrom(folder).empty()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

} // namespace

// The player's launcher (1.0) in ~/Applications self-updates to the built launcher as 2.0: the
// new one replaces the player's copy there, the old copy goes to the trash, and the copy, now
// current, starts the game without asking for the installer again. /opt is a test folder bound
// over the real one in a private mount namespace; nothing may be written there.
TEST_F(SelfUpdate, ALauncherInTheUsersApplicationsFolderIsReplacedThere) {
    SKIP_WITHOUT_DISPLAY();
    if (!privateMountsWork()) {
        GTEST_SKIP() << "needs root and unshare to bind a test folder over /opt";
    }
    const std::string installer = publishBuiltLauncher("2.0");
    publishManifest("1.0", publishGame("1.0"), "", "2.0", installer);
    configure("1.0", "/LatestVersion.ini");
    const fs::path playersCopy = sandbox.root / "home" / "Applications" / (displayName + ".app");
    fs::create_directories(playersCopy.parent_path());
    fs::copy(sandbox.bundle, playersCopy, fs::copy_options::recursive);
    const fs::path opt = sandbox.root / "opt";
    writeFile(opt / ".test-marker", "");

    // The streams go to a file: the launchers started later inherit them and outlive the pipes.
    const fs::path streams = sandbox.root / "streams.txt";
    const std::string script = "mount --bind \"$0\" /opt && test -e /opt/.test-marker && "
                               "exec \"$1\" >\"$2\" 2>&1";
    const ChildResult result =
        runChild("/usr/bin/unshare",
                 {"-m", "/bin/sh", "-c", script, opt.string(),
                  (playersCopy / "Contents" / "MacOS" / "launcher").string(), streams.string()},
                 launcherRunEnvironment(), std::chrono::seconds(120));
    EXPECT_EQ(result.exitStatus, 0) << result.standardError << readFile(streams);

    ASSERT_TRUE(waitForLogMention("launcherVersion=2.0")) << sandbox.logText() << readFile(streams);
    EXPECT_TRUE(noneRunsSoonFrom(playersCopy));
    const auto starts = gameStarts(1);
    ASSERT_EQ(starts.size(), 1u) << sandbox.logText() << readFile(streams);
    // Seen from outside the launcher's mount namespace, a machine whose root is itself a folder
    // (a chroot) shows the game's executable under that folder's path.
    const std::string game =
        (dataFolder / gameBundleName() / "Contents" / "MacOS" / "sample_game").string();
    EXPECT_TRUE(executableOf(starts[0].pid).ends_with(game)) << executableOf(starts[0].pid);
    EXPECT_TRUE(sandbox.logMentions(
        "[" + (fs::canonical(playersCopy) / "Contents" / "MacOS" / "launcher").string() +
        " setup for logging]"))
        << sandbox.logText();

    const std::string version = "<key>launcherVersion</key>\n\t<string>";
    const fs::path config = fs::path("Contents") / "Resources" / "config.plist";
    EXPECT_NE(readFile(playersCopy / config).find(version + "2.0<"), std::string::npos);
    const fs::path trashed = sandbox.root / "data" / "Trash" / "files" / (displayName + ".app");
    EXPECT_NE(readFile(trashed / config).find(version + "1.0<"), std::string::npos);
    EXPECT_EQ(requestsFor("GET /launcher-2.0.zip 200"), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(opt), fs::directory_iterator()), 1);
    EXPECT_EQ(readFile(streams).find("xattr"), std::string::npos) << readFile(streams);
}

namespace {

class Uninstall : public AcceptanceTest {
  protected:
    // A hard link to the run log outside the data folder: uninstall mode deletes the folder
    // and its log with it, and the link keeps what it wrote.
    fs::path keepLog() const {
        const fs::path kept = sandbox.root / "kept-out.log";
        fs::create_directories(dataFolder);
        writeFile(dataFolder / "out.log", "");
        fs::create_hard_link(dataFolder / "out.log", kept);
        return kept;
    }
};

} // namespace

TEST_F(Uninstall, DashUDashSStopsTheGameAndRemovesTheDataFolderOnly) {
    SKIP_WITHOUT_DISPLAY();
    publishManifest("1.0", publishGame("1.0"), "", "1.0");
    configure("1.0", "/LatestVersion.ini");
    ASSERT_EQ(runLauncher().exitStatus, 0);
    const pid_t game = gameStarts(1).at(0).pid;
    ASSERT_TRUE(processIsAlive(game));
    writeFile(dataFolder.parent_path() / "Other App" / "keep.txt", "a neighbour");
    fs::remove(dataFolder / "out.log");
    const fs::path log = keepLog();
    const int manifestRequests = requestsFor("GET /LatestVersion.ini");

    const ChildResult result = runLauncher({"-u", "-s"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_FALSE(fs::exists(dataFolder));
    EXPECT_TRUE(endsSoon(game)) << "the running game is stopped";
    const std::string text = readFile(log);
    EXPECT_NE(text.find(":Config loaded from Info.plist: appDisplayName=" + displayName +
                        ", appFolderName=Test App, companyFolderName=Test Company, "
                        "previousExecutableName=, uninstallExitURL=\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(":Stopping application: " + displayName + "\n"), std::string::npos);
    EXPECT_EQ(readFile(dataFolder.parent_path() / "Other App" / "keep.txt"), "a neighbour");
    EXPECT_TRUE(fs::exists(sandbox.launcherExecutable()));
    EXPECT_EQ(requestsFor("GET /LatestVersion.ini"), manifestRequests)
        << "uninstall mode never asks for the manifest";
}

TEST_F(Uninstall, DataFolderNamesThatLeaveTheirFolderAreRefused) {
    const fs::path data = sandbox.root / "data";
    writeFile(data / "someone else's" / "file.txt", "kept");
    writeFile(sandbox.root / "home" / "file.txt", "kept");
    for (const auto& [company, app] :
         std::vector<std::pair<std::string, std::string>>{{"Test Company", ".."},
                                                          {"..", "Test App"},
                                                          {"Test Company", "../.."},
                                                          {".", "."},
                                                          {"Test Company", ""}}) {
        configure("1.0", "/LatestVersion.ini",
                  {{"companyFolderName", "<string>" + company + "</string>"},
                   {"appFolderName", "<string>" + app + "</string>"}});
        const ChildResult result = runLauncher({"-s", "-u"});
        EXPECT_EQ(result.exitStatus, 1) << company << "/" << app;
        const std::string refused = company == "Test Company" ? app : company;
        EXPECT_NE(result.standardError.find("Refusing data folder name '" + refused +
                                            "': it must be a single folder name"),
                  std::string::npos)
            << result.standardError;
        EXPECT_EQ(readFile(data / "someone else's" / "file.txt"), "kept");
        EXPECT_EQ(readFile(sandbox.root / "home" / "file.txt"), "kept");
        EXPECT_TRUE(fs::exists(sandbox.launcherExecutable()));
    }
}

TEST_F(Uninstall, OnlyApplicationsAreStoppedNeverAPlainCommandOfTheSameName) {
    SKIP_WITHOUT_DISPLAY();
    // A plain program (no bundle around it) whose command name is previousExecutableName, as a
    // shell would be for a name such as "bash".
    const std::string plainName = "plain" + std::to_string(getpid());
    const fs::path plain = sandbox.root / "bin" / plainName;
    fs::create_directories(plain.parent_path());
    fs::copy_file("/bin/sleep", plain);
    const pid_t command = startDetachedProcess(plain.string(), {"60"}).value_or(-1);
    ASSERT_GT(command, 0);

    publishManifest("1.0", publishGame("1.0"), "", "1.0");
    configure("1.0", "/LatestVersion.ini",
              {{"previousExecutableName", "<string>" + plainName + "</string>"}});
    ASSERT_EQ(runLauncher().exitStatus, 0);
    const pid_t game = gameStarts(1).at(0).pid;
    const fs::path log = keepLog();

    const ChildResult result = runLauncher({"-u", "-s"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(endsSoon(game)) << "the game, an application, is stopped";
    EXPECT_TRUE(processIsAlive(command)) << "the plain command is left alone";
    EXPECT_EQ(readFile(log).find("Stopping application: " + plainName), std::string::npos);
    kill(command, SIGKILL);
    waitpid(command, nullptr, 0);
}
