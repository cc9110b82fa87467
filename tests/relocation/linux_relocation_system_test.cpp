#include "relocation/freedesktop_trash.h"
#include "relocation/linux_relocation_system.h"
#include "relocation/relocation_commands.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for one test and puts the old value back afterwards.
struct ScopedVariable {
    std::string name;
    std::optional<std::string> old;
    ScopedVariable(std::string variable, const std::string& value) : name(std::move(variable)) {
        if (const char* current = std::getenv(name.c_str())) {
            old = current;
        }
        setenv(name.c_str(), value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (old) {
            setenv(name.c_str(), old->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
};

void makeExecutable(const fs::path& path, const std::string& text) {
    writeFile(path, text);
    fs::permissions(path, fs::perms::owner_all);
}

} // namespace

TEST(LinuxRelocationSystem, ApplicationsFoldersAreTheUsersAndOptResolvedThroughLinks) {
    TempFolder home;
    fs::create_directories(home / "real-apps");
    fs::create_directory_symlink(home / "real-apps", home / "Applications");
    ScopedVariable variable("HOME", home.str());
    LinuxRelocationSystem system;
    const auto folders = system.allApplicationsFolders();
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0], fs::canonical(home / "real-apps").string());
    EXPECT_EQ(folders[1], fs::weakly_canonical("/opt").string());
    EXPECT_EQ(system.localApplicationsFolders(), std::vector<std::string>{"/opt"});

    // The user's own copy is replaced where it is; without one the copy goes to /opt.
    EXPECT_FALSE(system.folderOfUsersCopy("L.app"));
    fs::create_directories(home / "real-apps" / "L.app");
    EXPECT_EQ(system.folderOfUsersCopy("L.app"), fs::canonical(home / "real-apps").string());
    EXPECT_FALSE(system.folderOfUsersCopy("Other.app"));
    ScopedVariable relative("HOME", "relative/home");
    EXPECT_FALSE(system.folderOfUsersCopy("L.app"));
}

TEST(LinuxRelocationSystem, TheRelaunchRunsNoQuarantineToolAndStaysValidBash) {
    LinuxRelocationSystem system;
    EXPECT_FALSE(system.quarantineRemoval("'/opt/L.app'", true));
    EXPECT_FALSE(system.quarantineRemoval("'/opt/L.app'", false));
    const std::string script =
        relaunchScript(1, system.quarantineRemoval("'/opt/L.app'", true), "'/opt/L.app/x'");
    EXPECT_EQ(script.find("xattr"), std::string::npos) << script;
    const ChildResult parsed = runChild("/bin/bash", {"-n", "-c", script});
    EXPECT_EQ(parsed.exitStatus, 0) << script << parsed.standardError;
}

TEST(LinuxRelocationSystem, FileSystemOfTellsTheRootFromOtherMounts) {
    LinuxRelocationSystem system;
    const auto root = system.fileSystemOf("/");
    ASSERT_TRUE(root);
    EXPECT_TRUE(root->isRootFileSystem);
    EXPECT_FALSE(system.fileSystemOf("/no/such/folder/anywhere"));
    const auto proc = system.fileSystemOf("/proc/self");
    ASSERT_TRUE(proc);
    EXPECT_FALSE(proc->isRootFileSystem);
    EXPECT_EQ(proc->mountSource, "proc");
}

TEST(LinuxRelocationSystem, ToolsRunByPathWithTheirWholeOutput) {
    LinuxRelocationSystem system;
    if (!fs::exists("/usr/bin/hdiutil")) {
        EXPECT_FALSE(system.runToolCapturingOutput("/usr/bin/hdiutil", {"info", "-plist"}));
    }
    TempFolder folder;
    makeExecutable(folder / "talk", "#!/bin/sh\nhead -c 300000 /dev/zero | tr '\\0' x\n");
    const auto output = system.runToolCapturingOutput((folder / "talk").string(), {});
    ASSERT_TRUE(output);
    EXPECT_EQ(output->size(), 300000u); // more than a pipe holds: read while the tool runs
    EXPECT_TRUE(system.parsePropertyList("<plist version=\"1.0\"><dict/></plist>",
                                         PropertyListReader::Modern));
    EXPECT_FALSE(system.parsePropertyList("not a list", PropertyListReader::Legacy));
    EXPECT_FALSE(system.parsePropertyList("", PropertyListReader::Modern));
}

TEST(LinuxRelocationSystem, ScriptsRunUnderAShellThatKnowsTheirRedirection) {
    LinuxRelocationSystem system;
    EXPECT_EQ(system.runShellScript("/bin/kill -0 $$ >&/dev/null"), 0);
    EXPECT_EQ(system.runShellScript("exit 3"), 3);
    TempFolder folder;
    const fs::path marker = folder / "ran";
    system.startShellScript("(/bin/sleep 0.1; : > '" + marker.string() + "') &");
    for (int i = 0; i < 600 && !fs::exists(marker); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(fs::exists(marker));
}

TEST(LinuxRelocationSystem, CopyItemCopiesABundleWholeButNeverOverAnything) {
    TempFolder folder;
    const fs::path bundle = folder / "L.app";
    makeExecutable(bundle / "Contents" / "MacOS" / "launcher", "#!/bin/sh\n");
    fs::create_symlink("MacOS/launcher", bundle / "Contents" / "link");
    writeFile(bundle / "Contents" / "Info.plist",
              "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
              "<string>launcher</string></dict></plist>");
    LinuxRelocationSystem system;
    const fs::path copy = folder / "apps" / "L.app";
    fs::create_directories(copy.parent_path());
    EXPECT_FALSE(system.copyItem(bundle.string(), copy.string()));
    EXPECT_EQ(readFile(copy / "Contents" / "MacOS" / "launcher"), "#!/bin/sh\n");
    EXPECT_EQ(access((copy / "Contents" / "MacOS" / "launcher").c_str(), X_OK), 0);
    EXPECT_TRUE(fs::is_symlink(copy / "Contents" / "link"));

    writeFile(folder / "apps" / "Other.app", "keep");
    EXPECT_TRUE(system.copyItem(bundle.string(), (folder / "apps" / "Other.app").string()));
    EXPECT_EQ(readFile(folder / "apps" / "Other.app"), "keep");

    fs::create_directory_symlink(folder / "apps", folder / "linked");
    EXPECT_TRUE(system.isSameItem((folder / "linked" / "L.app").string(), copy.string()));
    EXPECT_FALSE(system.isSameItem(bundle.string(), copy.string()));
    EXPECT_EQ(system.openCommand(copy.string()),
              "'" + (copy / "Contents" / "MacOS" / "launcher").string() + "'");
}

TEST(LinuxRelocationSystem, AScheduledCallWaitsForTheMainThread) {
    LinuxRelocationSystem system;
    EXPECT_TRUE(system.isMainThread());
    bool onMain = false;
    int runs = 0;
    std::thread other([&] {
        EXPECT_FALSE(system.isMainThread());
        system.scheduleOnMainThread([&] {
            onMain = system.isMainThread();
            ++runs;
        });
    });
    other.join();
    EXPECT_EQ(runs, 0);
    runScheduledMainThreadCalls();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(onMain);
    runScheduledMainThreadCalls();
    EXPECT_EQ(runs, 1);
}

TEST(FreedesktopTrash, MovesItemsIntoTheUsersTrashWithARecordEach) {
    TempFolder folder;
    ScopedVariable dataHome("XDG_DATA_HOME", (folder / "data").string());
    const fs::path first = folder / "opt" / "My Game.app";
    writeFile(first / "Contents" / "x", "1");
    ASSERT_TRUE(moveToTrash(first.string()));
    EXPECT_FALSE(fs::exists(first));
    const fs::path trash = folder / "data" / "Trash";
    EXPECT_EQ(readFile(trash / "files" / "My Game.app" / "Contents" / "x"), "1");
    const std::string record = readFile(trash / "info" / "My Game.app.trashinfo");
    EXPECT_EQ(
        record.rfind("[Trash Info]\nPath=" + trashInfoPathValue(first.string()) + "\nDeletionDate=",
                     0),
        0u)
        << record;

    writeFile(first / "Contents" / "x", "2");
    ASSERT_TRUE(moveToTrash(first.string()));
    EXPECT_EQ(readFile(trash / "files" / "My Game.app.2" / "Contents" / "x"), "2");
    EXPECT_TRUE(fs::exists(trash / "info" / "My Game.app.2.trashinfo"));

    EXPECT_FALSE(moveToTrash((folder / "opt" / "Missing.app").string()));
    EXPECT_FALSE(fs::exists(trash / "info" / "Missing.app.trashinfo"));
    EXPECT_EQ(trashInfoPathValue("/opt/My Game's.app"), "/opt/My%20Game%27s.app");
}
