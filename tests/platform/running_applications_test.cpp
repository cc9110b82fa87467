#include "platform/application_bundle.h"
#include "platform/application_launch.h"
#include "platform/running_applications.h"
#include "tests/support/child_process.h"
#include "tests/support/game_bundle.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

const RunningApplication* findByPid(const std::vector<RunningApplication>& list, int pid) {
    for (const auto& application : list) {
        if (application.processIdentifier == pid) {
            return &application;
        }
    }
    return nullptr;
}

} // namespace

TEST(RunningApplications, BundledProgramsAreNamedByTheirBundle) {
    TempFolder folder{LAUNCHER_BINARY_DIR};
    struct Case {
        std::string bundleName;
        PlistEntries info;
        std::string expectedName;
    };
    const std::vector<Case> cases = {
        {"Display.app",
         {{"CFBundleExecutable", "<string>game</string>"},
          {"CFBundleDisplayName", "<string>Shown Name</string>"},
          {"CFBundleName", "<string>Plain Name</string>"}},
         "Shown Name"},
        {"Plain.app",
         {{"CFBundleExecutable", "<string>game</string>"},
          {"CFBundleName", "<string>Plain Name</string>"}},
         "Plain Name"},
        {"Drift Moor.app", {}, "Drift Moor"},
    };
    std::vector<int> pids;
    for (const auto& c : cases) {
        const std::string bundle = folder.str() + "/" + c.bundleName;
        makeGameBundle(bundle, "game", c.info);
        if (c.info.empty()) {
            // Without Info.plist the executable carries the bundle's name.
            std::filesystem::rename(bundle + "/Contents/MacOS/game",
                                    bundle + "/Contents/MacOS/Drift Moor");
        }
    }
    for (const auto& c : cases) {
        const std::string bundle = folder.str() + "/" + c.bundleName;
        ASSERT_EQ(launchApplication(bundle), 0);
        const std::string executable = applicationExecutablePath(bundle);
        pids.push_back(waitForGameRecord(executable).pid);
    }
    const auto running = runningApplications();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const RunningApplication* application = findByPid(running, pids[i]);
        ASSERT_NE(application, nullptr);
        EXPECT_EQ(application->localizedName, cases[i].expectedName);
        EXPECT_EQ(application->bundlePath, folder.str() + "/" + cases[i].bundleName);
    }
    for (int pid : pids) {
        killAndForget(pid);
    }
    const auto after = runningApplications();
    for (int pid : pids) {
        EXPECT_EQ(findByPid(after, pid), nullptr);
    }
}

TEST(RunningApplications, OtherProgramsAreNamedByTheirCommand) {
    const auto running = runningApplications();
    const RunningApplication* self = findByPid(running, getpid());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->localizedName, std::string("platform_tests").substr(0, 15));
    EXPECT_TRUE(self->bundlePath.empty());
}
