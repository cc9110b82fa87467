// The data folder's run lock, in-process. Each case runs in a process of its own (the lock,
// once taken, is held until the process ends).
#include "launcher/run_lock.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace fs = std::filesystem;

TEST(RunLock, ALinkOrAFolderInItsPlaceIsNeitherFollowedNorTakenAndNothingIsTruncated) {
    TempFolder folder;
    const fs::path lock = folder / "launcher.lock";
    writeFile(folder / "elsewhere.txt", "someone's file");
    fs::create_symlink(folder / "elsewhere.txt", lock);
    std::string problem;
    EXPECT_EQ(takeRunLock(folder.str(), problem), RunLock::Unavailable);
    EXPECT_NE(problem.find(lock.string() + ": "), std::string::npos) << problem;
    EXPECT_EQ(readFile(folder / "elsewhere.txt"), "someone's file");
    EXPECT_TRUE(fs::is_symlink(lock));

    fs::remove(lock);
    fs::create_directory(lock);
    problem.clear();
    EXPECT_EQ(takeRunLock(folder.str(), problem), RunLock::Unavailable);
    EXPECT_FALSE(problem.empty());

    // A lock file left by an earlier run is taken as it stands.
    fs::remove(lock);
    writeFile(lock, "left by an earlier run");
    EXPECT_EQ(takeRunLock(folder.str(), problem), RunLock::Taken);
    EXPECT_EQ(readFile(lock), "left by an earlier run");
    // Another process cannot have it meanwhile.
    EXPECT_EQ(runChild("/usr/bin/flock", {"-n", lock.string(), "/bin/true"}).exitStatus, 1);
}

TEST(RunLock, AnotherProcessHoldingItIsToldApart) {
    TempFolder folder;
    const fs::path lock = folder / "launcher.lock";
    writeFile(lock, "");
    const fs::path ready = folder / "ready";
    const fs::path done = folder / "done";
    // The child takes the lock, says so, and keeps it until the test is done with it (a minute
    // at the most), however long the test takes to look.
    auto holder = std::async(std::launch::async, [&] {
        return runChild("/usr/bin/flock",
                        {"-n", lock.string(), "/bin/sh", "-c",
                         "touch \"$0\"; for i in $(seq 1200); do [ -e \"$1\" ] && exit 0; "
                         "sleep 0.05; done; exit 1",
                         ready.string(), done.string()});
    });
    for (int i = 0; i < 3000 && !fs::exists(ready); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(fs::exists(ready));
    std::string problem;
    EXPECT_EQ(takeRunLock(folder.str(), problem), RunLock::HeldElsewhere);
    writeFile(done, "");
    EXPECT_EQ(holder.get().exitStatus, 0);
    EXPECT_EQ(takeRunLock(folder.str(), problem), RunLock::Taken) << problem;
}
