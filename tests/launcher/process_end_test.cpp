// How the launcher's process ends, with and without an installer thread still at work.
#include "launcher/process_end.h"
#include "tests/support/temp_folder.h"
#include "launcher/work_threads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

// Stands for the process-wide values a worker still uses: its destructor leaves a mark in the
// file named by the environment, which the death test's child inherits.
struct ProcessWideValue {
    ~ProcessWideValue() {
        if (const char* mark = std::getenv("PROCESS_END_TEST_MARK")) {
            std::ofstream(mark) << "destroyed";
        }
    }
};
ProcessWideValue processWideValue;

void workForever() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

void workBriefly() {}

} // namespace

TEST(ProcessEndDeathTest, AThreadStillAtWorkNeverSeesProcessWideValuesDestroyed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The death tests' children run this body again from the top; they take the parent's mark.
    const char* inherited = std::getenv("PROCESS_END_TEST_MARK");
    const std::string mark =
        inherited != nullptr
            ? inherited
            : std::string(LAUNCHER_BINARY_DIR) + "/process-end-mark-" + std::to_string(getpid());
    if (inherited == nullptr) {
        std::filesystem::remove(mark);
        setenv("PROCESS_END_TEST_MARK", mark.c_str(), 1);
    }

    EXPECT_EXIT(
        {
            startCountedThread(workForever).detach();
            endLauncherProcess(1);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_FALSE(std::filesystem::exists(mark)) << "static destructors ran under the worker";

    // With every thread through, the process ends the ordinary way (leak checks included).
    EXPECT_EXIT(
        {
            std::thread finished = startCountedThread(workBriefly);
            finished.join();
            endLauncherProcess(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(readFile(mark), "destroyed");
    std::filesystem::remove(mark);
    unsetenv("PROCESS_END_TEST_MARK");
}
