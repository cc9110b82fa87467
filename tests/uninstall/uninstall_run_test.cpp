#include "platform/process_start.h"
#include "platform/running_applications.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Names unique to this test process: the process list covers the whole machine, and other
// people's programs must never carry a name these tests stop. At most 15 characters, the
// length of a process's command name.
std::string uniqueName(const std::string& tag) {
    static int counter = 0;
    return tag + std::to_string(getpid()) + "x" + std::to_string(++counter);
}

std::string plistString(const std::string& key, const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
    }
    return "<key>" + key + "</key><string>" + escaped + "</string>";
}

std::string plist(const std::map<std::string, std::string>& keys) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
    for (const auto& [key, value] : keys) {
        xml += plistString(key, value);
    }
    return xml + "</dict></plist>\n";
}

// A game bundle whose executable is a copy of sleep, so that the process's executable lies
// inside the bundle as an application's does (a script's would be its interpreter). Started in
// a session of its own; the whole group goes at the end.
struct Game {
    pid_t pid = -1;
    Game(const fs::path& folder, const std::string& name) {
        const fs::path executable = folder / (name + ".app") / "Contents" / "MacOS" / name;
        fs::create_directories(executable.parent_path());
        fs::copy_file("/bin/sleep", executable, fs::copy_options::overwrite_existing);
        pid = startDetachedProcess(executable.string(), {"600"}).value_or(-1);
    }
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;
    ~Game() {
        if (pid > 0) {
            kill(-pid, SIGKILL);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    }
    // Reaps the game when it was killed; bounded, for a kill that is already on its way.
    bool wasKilled() {
        for (int i = 0; i < 400; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
                kill(-pid, SIGKILL);
                pid = -1;
                return killed;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }
    bool isRunning() const { return pid > 0 && processIsAlive(pid); }
};

int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

struct UninstallRun : ::testing::Test {
    TempFolder root;
    fs::path bundle = root / "app" / "Launcher.app";
    fs::path data = root / "data";
    fs::path dataFolder = root / "data" / "Quillmere" / "Driftmoor";
    fs::path openerRecord = root / "opener.txt";
    fs::path logCopy = root / "out-log-copy.txt";
    fs::path windowRecord = root / "window.txt";
    std::string displayName = uniqueName("Game");
    std::map<std::string, std::string> config{{"appDisplayName", displayName},
                                              {"companyFolderName", "Quillmere"},
                                              {"appFolderName", "Driftmoor"},
                                              {"previousExecutableName", ""},
                                              {"uninstallExitURL", "https://example.org/bye"}};

    void SetUp() override {
        fs::create_directories(bundle.parent_path());
        fs::copy(LAUNCHER_BUNDLE_DIR, bundle, fs::copy_options::recursive);
        for (const char* folder : {"home", "tmp", "bin", "games"}) {
            fs::create_directories(root / folder);
        }
        writeFile(dataFolder / "Drift Moor.app" / "Contents" / "MacOS" / "game", "old game");
        writeFile(dataFolder / "CurrentVersion.ini", "[Version]\n");
        writeFile(data / "Quillmere" / "Neighbour" / "keep.txt", "keep");
        writeOpener();
    }

    // Records its arguments, a copy of the uninstaller's run log (its parent's standard output,
    // already deleted from disk by now) and the window the uninstaller shows meanwhile.
    void writeOpener() {
        const std::string name = "'" + displayName + "'";
        const std::string script =
            "#!/bin/sh\n"
            "{ echo \"count=$#\"; for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done; } >> '" +
            openerRecord.string() + "'\n" + "cat /proc/$PPID/fd/1 > '" + logCopy.string() + "'\n" +
            "{ xwininfo -root; xwininfo -name " + name + "; xprop -name " + name +
            " _MOTIF_WM_HINTS WM_TRANSIENT_FOR; } > '" + windowRecord.string() + "' 2>&1\n";
        const fs::path opener = root / "bin" / "xdg-open";
        writeFile(opener, script);
        fs::permissions(opener, fs::perms::owner_all);
    }

    void writeConfig() {
        writeFile(bundle / "Contents" / "Resources" / "config.plist", plist(config));
    }

    std::map<std::string, std::string> environment() const {
        const char* path = std::getenv("PATH");
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        // Mesa's driver is unloaded before the leak check; only full stacks still name it.
        const std::string asanOptions = std::string(sanitizer ? sanitizer : "") +
                                        (sanitizer ? ":" : "") + "fast_unwind_on_malloc=0";
        return {
            {"HOME", (root / "home").string()},
            {"XDG_DATA_HOME", data.string()},
            {"TMPDIR", (root / "tmp").string()},
            {"PATH", (root / "bin").string() + ":" + (path ? path : "/usr/bin:/bin")},
            {"LIBGL_ALWAYS_SOFTWARE", "1"},
            {"ASAN_OPTIONS", asanOptions},
            {"LSAN_OPTIONS", "suppressions=" LAUNCHER_SOURCE_DIR "/tests/lsan_suppressions.txt"}};
    }

    ChildResult runLauncher(const std::vector<std::string>& arguments,
                            std::map<std::string, std::string> changes = {}) {
        writeConfig();
        auto env = environment();
        for (const auto& [name, value] : changes) {
            env[name] = value;
        }
        return runChild((bundle / "Contents" / "MacOS" / "launcher").string(), arguments, env);
    }

    static bool haveDisplay() { return std::getenv("DISPLAY") != nullptr; }
};

#define REQUIRE_DISPLAY()                                                                          \
    if (!haveDisplay()) {                                                                          \
        GTEST_SKIP() << "needs an X display (scripts/test.sh starts Xvfb)";                        \
    }

} // namespace

TEST_F(UninstallRun, SilentModeInEitherOrderStopsTheGameAndRemovesOnlyTheDataFolder) {
    for (const auto& arguments :
         {std::vector<std::string>{"-u", "-s"}, std::vector<std::string>{"-s", "-u"}}) {
        writeFile(dataFolder / "CurrentVersion.ini", "[Version]\n");
        Game game(root / "games", displayName);
        ASSERT_TRUE(game.isRunning());
        const ChildResult run = runLauncher(arguments, {{"DISPLAY", ""}});
        EXPECT_EQ(run.exitStatus, 0) << run.standardError;
        EXPECT_FALSE(fs::exists(dataFolder));
        EXPECT_EQ(readFile(data / "Quillmere" / "Neighbour" / "keep.txt"), "keep");
        EXPECT_TRUE(game.wasKilled());
        EXPECT_FALSE(fs::exists(openerRecord)) << "silent runs open no exit page";
        EXPECT_TRUE(fs::exists(bundle / "Contents" / "MacOS" / "launcher"));
    }
}

TEST_F(UninstallRun, ADataFolderThatWasNotThereIsCreatedForTheLogAndRemovedAgain) {
    fs::remove_all(dataFolder);
    const ChildResult run = runLauncher({"-u", "-s"});
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    EXPECT_TRUE(fs::exists(data / "Quillmere"));
    EXPECT_FALSE(fs::exists(dataFolder));
}

TEST_F(UninstallRun, WithoutARunLogTheGameIsStillStoppedAndTheDataFolderRemoved) {
    // A data folder whose path leaves no room for "/out.log" within the longest path the system
    // takes: the folder can be made, the log cannot, whoever runs the test.
    const std::size_t companyAndApp = std::string("/Quillmere/Driftmoor").size();
    std::string deep = (root / "deep").string();
    while (deep.size() + companyAndApp < 4088) {
        const std::size_t room = 4090 - companyAndApp - deep.size() - 1;
        deep += "/" + std::string(std::clamp<std::size_t>(room, 1, 200), 'd');
    }
    const fs::path deepFolder = fs::path(deep) / "Quillmere" / "Driftmoor";
    ASSERT_LT(deepFolder.string().size(), 4096u);
    ASSERT_GE((deepFolder / "out.log").string().size(), 4096u);
    fs::create_directories(deepFolder);
    Game game(root / "games", displayName);
    ASSERT_TRUE(game.isRunning());

    const ChildResult run = runLauncher({"-u", "-s"}, {{"DISPLAY", ""}, {"XDG_DATA_HOME", deep}});
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    EXPECT_TRUE(game.wasKilled());
    EXPECT_FALSE(fs::exists(deepFolder));
    EXPECT_NE(run.standardError.find(":Cannot set up the run log in " + deepFolder.string() +
                                     "; messages go to standard error\n"),
              std::string::npos)
        << run.standardError;
    EXPECT_NE(run.standardError.find(
                  ":Config loaded from Info.plist: appDisplayName=" + displayName + ", "),
              std::string::npos);
    EXPECT_NE(run.standardError.find(":Stopping application: " + displayName + "\n"),
              std::string::npos);
}

TEST_F(UninstallRun, ShowsTheWindowLogsAndOpensTheExitPageWithTheURLAsOneArgument) {
    REQUIRE_DISPLAY();
    const std::string url = "https://example.org/bye?a=1&b=2;touch " + (root / "pwned").string() +
                            ";$(touch " + (root / "pwned2").string() + ")'\"`id`";
    config["uninstallExitURL"] = url;
    const ChildResult run = runLauncher({"-u"});
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    EXPECT_FALSE(fs::exists(dataFolder));
    EXPECT_EQ(readFile(openerRecord), "count=1\narg=" + url + "\n");
    EXPECT_FALSE(fs::exists(root / "pwned"));
    EXPECT_FALSE(fs::exists(root / "pwned2"));

    const std::string log = readFile(logCopy);
    EXPECT_NE(log.find(":Config loaded from Info.plist: appDisplayName=" + displayName +
                       ", appFolderName=Driftmoor, companyFolderName=Quillmere, "
                       "previousExecutableName=, uninstallExitURL=" +
                       url + "\n"),
              std::string::npos)
        << log;

    // The record holds the root window first, then the uninstaller's window.
    const std::string window = readFile(windowRecord);
    const auto number = [&](const std::string& label, std::size_t from) {
        const auto at = window.find(label, from);
        return at == std::string::npos ? -1 : std::atoi(window.c_str() + at + label.size());
    };
    const auto ownWindow = window.find("\"" + displayName + "\"");
    ASSERT_NE(ownWindow, std::string::npos) << window;
    const int screenWidth = number("Width: ", 0);
    const int screenHeight = number("Height: ", 0);
    EXPECT_EQ(number("Width: ", ownWindow), 430) << window;
    EXPECT_EQ(number("Height: ", ownWindow), 389) << window;
    EXPECT_EQ(number("Absolute upper-left X: ", ownWindow), (screenWidth - 430) / 2) << window;
    EXPECT_EQ(number("Absolute upper-left Y: ", ownWindow), (screenHeight - 389) / 2) << window;
    // Borderless: Motif hints without decorations, or, where no window manager has made that
    // atom, SDL's fallback of a window transient for the root.
    const bool motifBorderless =
        window.find("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x2, 0x0, 0x0") != std::string::npos;
    const bool transientForRoot =
        window.find("WM_TRANSIENT_FOR(WINDOW): window id #") != std::string::npos;
    EXPECT_TRUE(motifBorderless || transientForRoot) << window;
}

TEST_F(UninstallRun, AnEmptyExitURLOpensNothing) {
    REQUIRE_DISPLAY();
    config["uninstallExitURL"] = "";
    const ChildResult run = runLauncher({"-u"});
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    EXPECT_FALSE(fs::exists(dataFolder));
    EXPECT_FALSE(fs::exists(openerRecord));
}

TEST_F(UninstallRun, OnlyTheFirstOfTwoSameNamedGamesStopsAndOtherCasesKeepRunning) {
    REQUIRE_DISPLAY();
    Game first(root / "games" / "one", displayName);
    Game second(root / "games" / "two", displayName);
    std::string lowered = displayName;
    lowered[0] = 'g';
    Game otherCase(root / "games" / "three", lowered);
    // The process list's order decides which of the two is first.
    pid_t expected = -1;
    for (const RunningApplication& application : runningApplications()) {
        if (application.processIdentifier == first.pid ||
            application.processIdentifier == second.pid) {
            expected = application.processIdentifier;
            break;
        }
    }
    ASSERT_NE(expected, -1);
    Game& stopped = expected == first.pid ? first : second;
    Game& spared = expected == first.pid ? second : first;

    const ChildResult run = runLauncher({"-u"});
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    EXPECT_TRUE(stopped.wasKilled());
    EXPECT_TRUE(spared.isRunning());
    EXPECT_TRUE(otherCase.isRunning());
    EXPECT_EQ(countOf(readFile(logCopy), ":Stopping application: " + displayName + "\n"), 1)
        << readFile(logCopy);
    EXPECT_EQ(countOf(readFile(logCopy), "Stopping application"), 1);
}

TEST_F(UninstallRun, APreviousExecutableIsStoppedTooButTheSameNameIsSearchedOnce) {
    REQUIRE_DISPLAY();
    {
        const std::string previous = uniqueName("Old");
        config["previousExecutableName"] = previous;
        Game current(root / "games" / "a", displayName);
        Game old(root / "games" / "b", previous);
        const ChildResult run = runLauncher({"-u"});
        EXPECT_EQ(run.exitStatus, 0) << run.standardError;
        EXPECT_TRUE(current.wasKilled());
        EXPECT_TRUE(old.wasKilled());
        const std::string log = readFile(logCopy);
        const auto firstLine = log.find(":Stopping application: " + displayName + "\n");
        const auto secondLine = log.find(":Stopping application: " + previous + "\n");
        EXPECT_NE(firstLine, std::string::npos) << log;
        EXPECT_NE(secondLine, std::string::npos) << log;
        EXPECT_LT(firstLine, secondLine);
    }
    {
        config["previousExecutableName"] = displayName;
        writeFile(dataFolder / "x", "");
        Game one(root / "games" / "c", displayName);
        Game two(root / "games" / "d", displayName);
        const ChildResult run = runLauncher({"-u"});
        EXPECT_EQ(run.exitStatus, 0) << run.standardError;
        EXPECT_EQ(countOf(readFile(logCopy), "Stopping application"), 1) << readFile(logCopy);
        EXPECT_NE(one.isRunning(), two.isRunning());
    }
}

TEST_F(UninstallRun, TheUninstallerNeverStopsItself) {
    // The uninstaller's own bundle carries the game's name.
    const fs::path info = bundle / "Contents" / "Info.plist";
    std::string text = readFile(info);
    const std::string from = "<string>Launcher</string>";
    ASSERT_NE(text.find(from), std::string::npos);
    text.replace(text.find(from), from.size(), "<string>" + displayName + "</string>");
    writeFile(info, text);
    const ChildResult run = runLauncher({"-u", "-s"});
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    EXPECT_FALSE(fs::exists(dataFolder));
}

TEST_F(UninstallRun, AFolderThatCannotBeRemovedGivesOneAndTheExitPageStillOpens) {
    REQUIRE_DISPLAY();
    fs::create_directories(dataFolder / "busy");
    ChildResult run;
    if (geteuid() == 0) {
        // Root may delete anything; a file system mounted inside the folder cannot go.
        writeConfig();
        auto env = environment();
        run = runChild("/usr/bin/unshare",
                       {"-m", "/bin/sh", "-c", "mount -t tmpfs none \"$0\" && exec \"$1\" -u",
                        (dataFolder / "busy").string(),
                        (bundle / "Contents" / "MacOS" / "launcher").string()},
                       env);
    } else {
        writeFile(dataFolder / "busy" / "file", "");
        fs::permissions(dataFolder / "busy", fs::perms::owner_read | fs::perms::owner_exec);
        run = runLauncher({"-u"});
    }
    EXPECT_EQ(run.exitStatus, 1) << run.standardError;
    EXPECT_TRUE(fs::exists(dataFolder / "busy"));
    EXPECT_EQ(readFile(openerRecord), "count=1\narg=https://example.org/bye\n");
}

TEST_F(UninstallRun, FolderNamesThatWouldLeaveTheDataFolderAreRefused) {
    writeFile(data / "keep.txt", "keep");
    writeFile(root / "outside" / "Driftmoor" / "keep.txt", "keep");
    for (const auto& [company, app] :
         std::vector<std::pair<std::string, std::string>>{{"..", "Driftmoor"},
                                                          {"", "Driftmoor"},
                                                          {".", "Quillmere"},
                                                          {"Quillmere", ".."},
                                                          {"Quillmere", "."},
                                                          {"Quillmere", ""},
                                                          {"../outside", "Driftmoor"},
                                                          {"Quillmere", "Driftmoor/.."}}) {
        config["companyFolderName"] = company;
        config["appFolderName"] = app;
        const ChildResult run = runLauncher({"-u", "-s"});
        EXPECT_EQ(run.exitStatus, 1) << company << " " << app;
        EXPECT_EQ(countOf(run.standardError, "\n"), 1) << run.standardError;
        EXPECT_NE(run.standardError.find("Refusing data folder name"), std::string::npos)
            << run.standardError;
        EXPECT_EQ(readFile(data / "keep.txt"), "keep");
        EXPECT_EQ(readFile(root / "outside" / "Driftmoor" / "keep.txt"), "keep");
        EXPECT_TRUE(fs::exists(dataFolder / "CurrentVersion.ini"));
    }
}

TEST_F(UninstallRun, MissingFolderKeysFallBackToTheCompiledInNames) {
    config.erase("companyFolderName");
    config.erase("appFolderName");
    const ChildResult run = runLauncher({"-u", "-s"});
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    EXPECT_FALSE(fs::exists(dataFolder));
}

TEST_F(UninstallRun, AWindowThatCannotOpenEndsTheRunBeforeAnythingIsStopped) {
    Game game(root / "games", displayName);
    const ChildResult noDisplay =
        runLauncher({"-u"}, {{"DISPLAY", ""}, {"SDL_VIDEODRIVER", "x11"}});
    EXPECT_EQ(noDisplay.exitStatus, 1);
    EXPECT_NE(readFile(dataFolder / "out.log").find(":SDL_Init Error: "), std::string::npos);
    EXPECT_TRUE(fs::exists(dataFolder / "CurrentVersion.ini"));
    EXPECT_TRUE(game.isRunning());

    // The dummy video driver has windows but no accelerated renderer.
    const ChildResult noRenderer = runLauncher({"-u"}, {{"SDL_VIDEODRIVER", "dummy"}});
    EXPECT_EQ(noRenderer.exitStatus, 1);
    EXPECT_NE(readFile(dataFolder / "out.log").find(":SDL_CreateRenderer Error: "),
              std::string::npos)
        << readFile(dataFolder / "out.log");
    EXPECT_TRUE(fs::exists(dataFolder / "CurrentVersion.ini"));
    EXPECT_TRUE(game.isRunning());
    EXPECT_FALSE(fs::exists(openerRecord));
}

TEST_F(UninstallRun, DashSWithoutDashUIsAnOrdinaryLaunch) {
    config["latestVersionEndpoint"] = "http://127.0.0.1:1/LatestVersion.ini";
    const ChildResult run = runLauncher({"-s"}, {{"DISPLAY", ""}});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(fs::exists(dataFolder / "CurrentVersion.ini"));
    EXPECT_NE(readFile(dataFolder / "out.log").find("Error getting or parsing LatestVersion.ini!"),
              std::string::npos);
}
