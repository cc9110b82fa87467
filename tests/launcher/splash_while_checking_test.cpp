// The splash while the launcher checks for updates, seen on a real X display: the built bundle
// against a manifest server on loopback that answers after a chosen delay. The windows get sizes
// no other test uses, so that the X server's records tell them apart.
#include "tests/support/child_process.h"
#include "tests/support/game_bundle.h"
#include "tests/support/http_test_server.h"
#include "tests/support/launcher_sandbox.h"
#include "tests/support/temp_folder.h"
#include "tests/support/x_window_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int splashWidth = 317;
constexpr int splashHeight = 241;
constexpr int installerWidth = 433;
constexpr int installerHeight = 391;
constexpr const char* title = "Drift Moor";
constexpr const char* closedMessage = "Splash window closed by the player; nothing was started";

class SplashWhileChecking : public testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X display (scripts/test.sh starts Xvfb)";
        }
        http.server().Get("/LatestVersion.ini", [this](const httplib::Request&,
                                                       httplib::Response& res) {
            handedOver();
            ++manifestRequests;
            const auto until = std::chrono::steady_clock::now() + delay;
            while (std::chrono::steady_clock::now() < until && !stopping) {
                std::this_thread::sleep_for(5ms);
            }
            res.set_content("ApplicationVersion=1.0\nLauncherVersion=" + announcedLauncher +
                                "\nApplicationDownloadUrl=" + http.url("/game.zip") +
                                "\nLauncherInstallerDownloadUrl=" + http.url("/game.zip") + "\n",
                            "text/plain");
        });
        http.server().Get("/game.zip", [this](const httplib::Request&, httplib::Response& res) {
            handedOver();
            res.set_content(archive, "application/zip");
        });
        http.start();
        sandbox.writeConfig(http.url("/LatestVersion.ini"), "1.2",
                            {{"launcherImageWidth", "<integer>317</integer>"},
                             {"launcherImageHeight", "<integer>241</integer>"},
                             {"contentInstallerImageWidth", "<integer>433</integer>"},
                             {"contentInstallerImageHeight", "<integer>391</integer>"}});
    }

    void TearDown() override {
        stopping = true;
        if (run.valid()) {
            run.wait();
        }
        const GameRecord game = gameRecordIfAny();
        if (game.pid > 0) {
            killAndForget(game.pid);
        }
    }

    void installGame() {
        makeGameBundle((sandbox.dataFolder / "Drift Moor.app").string(), "Drift Moor");
        writeFile(sandbox.dataFolder / "CurrentVersion.ini", "ApplicationVersion=1.0\n");
    }

    // The game as a release: its bundle packed by Info-ZIP.
    void publishGame() {
        makeGameBundle((scratch.path() / "Drift Moor.app").string(), "Drift Moor");
        const std::string command =
            "cd '" + scratch.str() + "' && zip -qr game.zip 'Drift Moor.app'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        archive = readFile(scratch.path() / "game.zip");
    }

    // What a test sets up before the launcher starts is read by the server's threads once the
    // launcher asks; the launcher's start orders the two, but only through another process,
    // which ThreadSanitizer cannot see. Passing a lock makes the order visible to it.
    void handedOver() { const std::lock_guard lock(handOver); }

    void startLauncher() {
        handedOver();
        run = std::async(std::launch::async, [this] { return sandbox.run(); });
    }

    ChildResult launcherResult() { return run.get(); }

    std::string gameExecutable() const {
        return (sandbox.dataFolder / "Drift Moor.app" / "Contents" / "MacOS" / "Drift Moor")
            .string();
    }
    bool gameStarted() const { return fs::exists(gameExecutable() + ".pid"); }
    GameRecord gameRecordIfAny() const {
        return gameStarted() ? waitForGameRecord(gameExecutable()) : GameRecord{};
    }

    // The window id once xwininfo lists a window of this size, or "" after limit.
    static std::string waitForWindow(int width, int height, std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            const std::string id = xwininfoWindowOfSize(title, width, height);
            if (!id.empty()) {
                return id;
            }
            std::this_thread::sleep_for(20ms);
        }
        return "";
    }

    int logCount(const std::string& message) const {
        const auto messages = sandbox.logMessages();
        return static_cast<int>(std::count(messages.begin(), messages.end(), message));
    }

    std::string eventList() const {
        std::string text;
        for (const auto& e : watch.events()) {
            text += (e.created ? "+" : "-") + std::to_string(e.window) + " " +
                    std::to_string(e.width) + "x" + std::to_string(e.height) + "\n";
        }
        return text;
    }

    // From the splash's creation to the installer's end some launcher window is always there.
    bool launcherWindowShownWithoutGap() const {
        int live = 0;
        bool begun = false;
        const auto all = watch.events();
        for (std::size_t i = 0; i < all.size(); ++i) {
            const auto& e = all[i];
            const bool ours = (e.width == splashWidth && e.height == splashHeight) ||
                              (e.width == installerWidth && e.height == installerHeight);
            if (!ours) {
                continue;
            }
            live += e.created ? 1 : -1;
            begun = true;
            const bool moreOfOursFollow =
                std::any_of(all.begin() + static_cast<long>(i) + 1, all.end(), [](const auto& n) {
                    return n.created &&
                           ((n.width == splashWidth && n.height == splashHeight) ||
                            (n.width == installerWidth && n.height == installerHeight));
                });
            if (begun && live == 0 && moreOfOursFollow) {
                return false;
            }
        }
        return begun && live == 0;
    }

    XWindowWatch watch;
    LauncherSandbox sandbox;
    TempFolder scratch{LAUNCHER_BINARY_DIR};
    std::chrono::milliseconds delay{0};
    std::string announcedLauncher = "1.2";
    std::atomic<bool> stopping{false};
    std::atomic<int> manifestRequests{0};
    std::string archive;
    std::future<ChildResult> run;
    std::mutex handOver;
    // Last, so that the server stops before the data its handlers read is destroyed.
    HttpTestServer http;
};

} // namespace

TEST_F(SplashWhileChecking, ASlowCheckShowsTheSplashWhichIsGoneOnceTheGameRuns) {
    installGame();
    delay = 2000ms;
    startLauncher();
    const std::string splash = waitForWindow(splashWidth, splashHeight, 1800ms);
    ASSERT_FALSE(splash.empty()) << "no splash window during the check";
    EXPECT_FALSE(gameStarted());
    std::this_thread::sleep_for(300ms); // a few frames drawn
    EXPECT_TRUE(importWindowScreenshot(splash, "splash-while-checking"));

    const ChildResult result = launcherResult();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_GT(waitForGameRecord(gameExecutable()).pid, 0);
    EXPECT_EQ(watch.createdOfSize(splashWidth, splashHeight), 1);
    EXPECT_TRUE(watch.waitUntilNoneLive(splashWidth, splashHeight));
    EXPECT_EQ(xwininfoWindowOfSize(title, splashWidth, splashHeight), "");
    EXPECT_EQ(watch.createdOfSize(installerWidth, installerHeight), 0);
}

TEST_F(SplashWhileChecking, AQuickCheckShowsNoWindowAtAll) {
    installGame();
    startLauncher();
    const ChildResult result = launcherResult();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_GT(waitForGameRecord(gameExecutable()).pid, 0);
    std::this_thread::sleep_for(100ms); // the watch has read all the server told it
    EXPECT_EQ(watch.createdOfSize(splashWidth, splashHeight), 0);
    EXPECT_EQ(watch.createdOfSize(installerWidth, installerHeight), 0);
}

TEST_F(SplashWhileChecking, TheInstallerWindowTakesTheSplashsPlaceWithoutAGap) {
    publishGame();
    delay = 2000ms; // each of the two fetches
    startLauncher();
    EXPECT_FALSE(waitForWindow(splashWidth, splashHeight, 3000ms).empty());
    // The installer window stays on its own once the splash has gone (one pass of its animation
    // at least).
    bool installerAlone = false;
    while (run.wait_for(20ms) != std::future_status::ready) {
        const std::string installer = xwininfoWindowOfSize(title, installerWidth, installerHeight);
        if (!installerAlone && !installer.empty() &&
            xwininfoWindowOfSize(title, splashWidth, splashHeight).empty()) {
            installerAlone = true;
            importWindowScreenshot(installer, "installer-after-splash");
        }
    }
    EXPECT_TRUE(installerAlone);
    const ChildResult result = launcherResult();
    EXPECT_EQ(result.exitStatus, 0) << sandbox.logText();
    ASSERT_GT(waitForGameRecord(gameExecutable()).pid, 0);
    EXPECT_EQ(manifestRequests.load(), 2);

    EXPECT_TRUE(watch.waitUntilNoneLive(splashWidth, splashHeight));
    EXPECT_TRUE(watch.waitUntilNoneLive(installerWidth, installerHeight));
    ASSERT_GE(watch.firstCreation(installerWidth, installerHeight), 0) << eventList();
    EXPECT_TRUE(launcherWindowShownWithoutGap()) << eventList();
    EXPECT_EQ(watch.createdOfSize(splashWidth, splashHeight), 1) << eventList();
    // The installer window outlives the splash it replaced.
    EXPECT_LT(watch.firstDestruction(splashWidth, splashHeight),
              watch.lastDestruction(installerWidth, installerHeight))
        << eventList();
}

TEST_F(SplashWhileChecking, ClosingTheSplashEndsTheRunWithOneAndStartsNothing) {
    installGame();
    delay = 20000ms;
    startLauncher();
    const std::string splash = waitForWindow(splashWidth, splashHeight, 3000ms);
    ASSERT_FALSE(splash.empty());
    const int pid = xpropWindowPid(splash);
    ASSERT_GT(pid, 0);
    // SDL turns SIGTERM into a close request (SDL_QUIT).
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_EQ(run.wait_for(5s), std::future_status::ready) << "the run did not end\n"
                                                           << sandbox.logText();
    const ChildResult result = launcherResult();
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    EXPECT_FALSE(gameStarted());
    EXPECT_EQ(logCount(closedMessage), 1);
    EXPECT_FALSE(sandbox.logMentions("comparing endpoint launcher version"));
    EXPECT_TRUE(watch.waitUntilNoneLive(splashWidth, splashHeight));
}

TEST_F(SplashWhileChecking, ASplashThatCannotBeShownIsLoggedAndTheGameStillStarts) {
    installGame();
    fs::remove(sandbox.bundle / "Contents" / "Resources" / "Assets" / "launcher.gif");
    delay = 600ms;
    startLauncher();
    const ChildResult result = launcherResult();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_GT(waitForGameRecord(gameExecutable()).pid, 0);
    EXPECT_EQ(logCount("Failed to load SDLImage media!"), 1);
    EXPECT_TRUE(watch.waitUntilNoneLive(splashWidth, splashHeight));
}

TEST_F(SplashWhileChecking, TheSplashClosesBeforeANewLauncherStarts) {
    installGame();
    publishGame(); // serves as the new launcher's installer too
    announcedLauncher = "9.9";
    delay = 2000ms;
    startLauncher();
    EXPECT_FALSE(waitForWindow(splashWidth, splashHeight, 1800ms).empty());
    const ChildResult result = launcherResult();
    EXPECT_EQ(result.exitStatus, 0) << sandbox.logText();
    const fs::path newLauncher = sandbox.temporaryFolder / "Test App" / "Drift Moor.app" /
                                 "Contents" / "MacOS" / "Drift Moor";
    const GameRecord started = waitForGameRecord(newLauncher.string());
    EXPECT_GT(started.pid, 0);
    if (started.pid > 0) {
        killAndForget(started.pid);
    }
    EXPECT_TRUE(watch.waitUntilNoneLive(splashWidth, splashHeight));
    EXPECT_EQ(watch.createdOfSize(installerWidth, installerHeight), 0);
    EXPECT_FALSE(gameStarted());
}
