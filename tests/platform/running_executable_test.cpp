// Which running process runs a given program file: the test game's binary, a replaced binary,
// and a script run by its interpreter; copies elsewhere never count.
#include "platform/application_bundle.h"
#include "platform/application_launch.h"
#include "platform/running_executable.h"
#include "tests/support/child_process.h"
#include "tests/support/game_bundle.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

class RunningExecutable : public testing::Test {
  protected:
    void TearDown() override {
        for (int pid : started) {
            killAndForget(pid);
        }
    }

    // Starts the bundle as the launcher does; its process once it is there (waits up to 10 s).
    std::optional<pid_t> start(const std::string& bundle) {
        EXPECT_EQ(launchApplication(bundle), 0);
        const std::string executable = applicationExecutablePath(bundle);
        for (int i = 0; i < 500; ++i) {
            if (const auto pid = processRunningExecutable(executable)) {
                started.push_back(*pid);
                return pid;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::nullopt;
    }

    std::string scriptBundle(const std::string& folder) {
        const std::string bundle = root.str() + "/" + folder + "/Drift Moor.app";
        const std::string script = bundle + "/Contents/MacOS/Drift Moor";
        writeFile(script, "#!/usr/bin/env python3\nimport time\ntime.sleep(60)\n");
        fs::permissions(script, fs::perms::owner_all);
        return bundle;
    }

    TempFolder root{LAUNCHER_BINARY_DIR};
    std::vector<int> started;
};

} // namespace

TEST_F(RunningExecutable, TheRunningProgramCountsAndACopyElsewhereDoesNot) {
    const std::string bundle = root.str() + "/data/Drift Moor.app";
    const std::string copy = root.str() + "/elsewhere/Drift Moor.app";
    makeGameBundle(bundle, "Drift Moor");
    makeGameBundle(copy, "Drift Moor");
    const std::string executable = applicationExecutablePath(bundle);
    EXPECT_EQ(processRunningExecutable(executable), std::nullopt);

    // The same program under the same name, started from elsewhere.
    const auto other = start(copy);
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(waitForGameRecord(applicationExecutablePath(copy)).pid, *other);
    EXPECT_EQ(processRunningExecutable(executable), std::nullopt);

    const GameRecord game = [&] {
        EXPECT_EQ(launchApplication(bundle), 0);
        return waitForGameRecord(executable);
    }();
    started.push_back(game.pid);
    EXPECT_EQ(processRunningExecutable(executable), game.pid);

    // An update that replaced the file under the running program: it still runs that program.
    fs::copy_file(TEST_GAME_PATH, executable + ".new");
    fs::rename(executable + ".new", executable);
    EXPECT_EQ(processRunningExecutable(executable), game.pid);

    killAndForget(game.pid);
    EXPECT_EQ(processRunningExecutable(executable), std::nullopt);
    EXPECT_EQ(processRunningExecutable(root.str() + "/data/absent"), std::nullopt);
}

TEST_F(RunningExecutable, AScriptCountsWhileItsInterpreterRunsIt) {
    const std::string bundle = scriptBundle("data");
    const std::string copy = scriptBundle("elsewhere");
    const std::string executable = applicationExecutablePath(bundle);
    ASSERT_FALSE(executable.empty());

    ASSERT_TRUE(start(copy).has_value());
    EXPECT_EQ(processRunningExecutable(executable), std::nullopt);

    const auto interpreter = start(bundle);
    ASSERT_TRUE(interpreter.has_value());
    EXPECT_NE(*interpreter, started.front());
    killAndForget(*interpreter);
    EXPECT_EQ(processRunningExecutable(executable), std::nullopt);
}
