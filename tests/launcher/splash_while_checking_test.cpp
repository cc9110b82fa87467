// The splash while the launcher checks for updates, seen on a real X display: the built bundle
// against a manifest server on loopback whose answer the test holds back for as long as it
// needs, so that a check is slow however fast or busy the machine. The windows get sizes no
// other test uses, so that the X server's records tell them apart.
#include "tests/support/child_process.h"
#include "tests/support/installed_game.h"
#include "tests/support/launcher_sandbox.h"
#include "tests/support/manifest_server.h"
#include "tests/support/temp_folder.h"
#include "tests/support/x_window_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
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
// A check that ends sooner shows no window at all.
constexpr auto splashDelay = 250ms;

// Waits until done() holds; the limit only keeps a run that hangs from holding the test.
bool eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

bool isSplash(const XWindowWatch::Event& e) {
    return e.width == splashWidth && e.height == splashHeight;
}

bool isInstaller(const XWindowWatch::Event& e) {
    return e.width == installerWidth && e.height == installerHeight;
}

class SplashWhileChecking : public testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X display (scripts/test.sh starts Xvfb)";
        }
        announceLauncher("1.2");
        sandbox.writeConfig(server.manifestUrl(), "1.2",
                            {{"launcherImageWidth", "<integer>317</integer>"},
                             {"launcherImageHeight", "<integer>241</integer>"},
                             {"contentInstallerImageWidth", "<integer>433</integer>"},
                             {"contentInstallerImageHeight", "<integer>391</integer>"}});
    }

    void TearDown() override {
        server.release();
        if (run.valid()) {
            run.wait();
        }
    }

    // The manifest names the game at 1.0 and this launcher version, both archives /game.zip.
    void announceLauncher(const std::string& version) {
        server.serve("ApplicationVersion=1.0\nLauncherVersion=" + version +
                     "\nApplicationDownloadUrl=" + server.url("/game.zip") +
                     "\nLauncherInstallerDownloadUrl=" + server.url("/game.zip") + "\n");
    }

    // The game as a release: its bundle packed by Info-ZIP.
    void publishGame() { server.serveArchive(zippedGameBundle(scratch.path())); }

    void startLauncher() {
        run = std::async(std::launch::async, [this] { return sandbox.run(); });
    }

    ChildResult launcherResult() { return run.get(); }

    // The window id once xwininfo lists a window of this size, or "" when none came.
    static std::string waitForWindow(int width, int height) {
        std::string id;
        eventually([&] {
            id = xwininfoWindowOfSize(title, width, height);
            return !id.empty();
        });
        return id;
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
            if (!isSplash(e) && !isInstaller(e)) {
                continue;
            }
            live += e.created ? 1 : -1;
            begun = true;
            const bool moreOfOursFollow =
                std::any_of(all.begin() + static_cast<long>(i) + 1, all.end(), [](const auto& n) {
                    return n.created && (isSplash(n) || isInstaller(n));
                });
            if (begun && live == 0 && moreOfOursFollow) {
                return false;
            }
        }
        return begun && live == 0;
    }

    // Whether the X server's records hold a moment with the installer window up and no splash.
    bool installerWindowStoodAlone() const {
        int splashes = 0;
        int installers = 0;
        for (const auto& e : watch.events()) {
            splashes += isSplash(e) ? (e.created ? 1 : -1) : 0;
            installers += isInstaller(e) ? (e.created ? 1 : -1) : 0;
            if (installers > 0 && splashes == 0) {
                return true;
            }
        }
        return false;
    }

    XWindowWatch watch;
    XDisplay display;
    LauncherSandbox sandbox;
    TempFolder scratch{LAUNCHER_BINARY_DIR};
    InstalledGame game{sandbox.dataFolder};
    std::future<ChildResult> run;
    ManifestServer server;
};

} // namespace

TEST_F(SplashWhileChecking, ASlowCheckShowsTheSplashWhichIsGoneOnceTheGameRuns) {
    game.install("1.0");
    server.hold();
    startLauncher();
    const std::string splash = waitForWindow(splashWidth, splashHeight);
    ASSERT_FALSE(splash.empty()) << "no splash window during the check";
    EXPECT_FALSE(game.started());
    std::this_thread::sleep_for(300ms); // a few frames drawn
    EXPECT_TRUE(keepWindowPicture(display.pictureOfWindow(splash), "splash-while-checking"));
    server.release();

    const ChildResult result = launcherResult();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_GT(game.waitForStart().pid, 0);
    EXPECT_EQ(watch.createdOfSize(splashWidth, splashHeight), 1);
    EXPECT_TRUE(watch.waitUntilNoneLive(splashWidth, splashHeight));
    EXPECT_EQ(xwininfoWindowOfSize(title, splashWidth, splashHeight), "");
    EXPECT_EQ(watch.createdOfSize(installerWidth, installerHeight), 0);
}

TEST_F(SplashWhileChecking, AQuickCheckShowsNoWindowAtAll) {
    game.install("1.0");
    const auto began = std::chrono::steady_clock::now();
    startLauncher();
    const ChildResult result = launcherResult();
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_GT(game.waitForStart().pid, 0);
    std::this_thread::sleep_for(100ms); // the watch has read all the server told it
    // The check is no quicker than the whole run: a run that took longer than the splash's
    // delay, as on a busy machine, may have had a check slow enough for the splash.
    EXPECT_TRUE(watch.createdOfSize(splashWidth, splashHeight) == 0 || took >= splashDelay)
        << "a splash though the whole run took "
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_EQ(watch.createdOfSize(installerWidth, installerHeight), 0);
}

TEST_F(SplashWhileChecking, TheInstallerWindowTakesTheSplashsPlaceWithoutAGap) {
    publishGame();
    server.hold();
    startLauncher();
    EXPECT_FALSE(waitForWindow(splashWidth, splashHeight).empty());
    server.release();
    // A picture of the installer window once the splash has gone, when a look catches it.
    bool pictured = false;
    while (run.wait_for(20ms) != std::future_status::ready) {
        const std::string installer = xwininfoWindowOfSize(title, installerWidth, installerHeight);
        if (!pictured && !installer.empty() &&
            xwininfoWindowOfSize(title, splashWidth, splashHeight).empty()) {
            pictured =
                keepWindowPicture(display.pictureOfWindow(installer), "installer-after-splash");
        }
    }
    const ChildResult result = launcherResult();
    EXPECT_EQ(result.exitStatus, 0) << sandbox.logText();
    ASSERT_GT(game.waitForStart().pid, 0);
    EXPECT_EQ(server.manifestRequests(), 2);

    EXPECT_TRUE(watch.waitUntilNoneLive(splashWidth, splashHeight));
    EXPECT_TRUE(watch.waitUntilNoneLive(installerWidth, installerHeight));
    // The installer window stays on its own once the splash has gone.
    EXPECT_TRUE(installerWindowStoodAlone()) << eventList();
    ASSERT_GE(watch.firstCreation(installerWidth, installerHeight), 0) << eventList();
    EXPECT_TRUE(launcherWindowShownWithoutGap()) << eventList();
    EXPECT_EQ(watch.createdOfSize(splashWidth, splashHeight), 1) << eventList();
    // The installer window outlives the splash it replaced.
    EXPECT_LT(watch.firstDestruction(splashWidth, splashHeight),
              watch.lastDestruction(installerWidth, installerHeight))
        << eventList();
}

TEST_F(SplashWhileChecking, ClosingTheSplashEndsTheRunWithOneAndStartsNothing) {
    game.install("1.0");
    server.hold(); // the check ends only with the test
    startLauncher();
    const std::string splash = waitForWindow(splashWidth, splashHeight);
    ASSERT_FALSE(splash.empty());
    const int pid = xpropWindowPid(splash);
    ASSERT_GT(pid, 0);
    // SDL turns SIGTERM into a close request (SDL_QUIT).
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_TRUE(eventually([&] { return run.wait_for(0s) == std::future_status::ready; }))
        << "the run did not end\n"
        << sandbox.logText();
    const ChildResult result = launcherResult();
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    EXPECT_FALSE(game.started());
    EXPECT_EQ(logCount(closedMessage), 1);
    EXPECT_FALSE(sandbox.logMentions("comparing endpoint launcher version"));
    EXPECT_TRUE(watch.waitUntilNoneLive(splashWidth, splashHeight));
}

TEST_F(SplashWhileChecking, ASplashThatCannotBeShownIsLoggedAndTheGameStillStarts) {
    game.install("1.0");
    fs::remove(sandbox.bundle / "Contents" / "Resources" / "Assets" / "launcher.gif");
    server.hold();
    startLauncher();
    EXPECT_TRUE(eventually([&] { return sandbox.logMentions("Failed to load SDLImage media!"); }));
    server.release();
    const ChildResult result = launcherResult();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_GT(game.waitForStart().pid, 0);
    EXPECT_EQ(logCount("Failed to load SDLImage media!"), 1);
    EXPECT_TRUE(watch.waitUntilNoneLive(splashWidth, splashHeight));
}

TEST_F(SplashWhileChecking, TheSplashClosesBeforeANewLauncherStarts) {
    game.install("1.0");
    publishGame(); // serves as the new launcher's installer too
    announceLauncher("9.9");
    server.hold();
    startLauncher();
    EXPECT_FALSE(waitForWindow(splashWidth, splashHeight).empty());
    server.release();
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
    EXPECT_FALSE(game.started());
}
