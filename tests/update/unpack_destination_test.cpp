// What the unpacker does with what already stands in the destination: the launcher's own records,
// an earlier install whose files, folders and links the new release arranges differently, the
// unfinished files of a killed unpack, and the modes it leaves behind.
#include "update/unpack/launcher_records.h"
#include "update/unpack/unpack_paths.h"
#include "update/unpack/zip_extract.h"

#include "tests/support/file_modes.h"
#include "tests/update/download_test_support.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

class UnpackDestinationTest : public LoggedTest {
  protected:
    TempFolder scratch;
    fs::path destination() const { return scratch / "dest"; }
    fs::path archive() const { return scratch / "a.zip"; }
    void SetUp() override {
        LoggedTest::SetUp();
        fs::create_directories(destination());
    }
    bool unpack(const std::vector<ZipEntrySpec>& entries) {
        writeZip(archive(), entries);
        return unzipArchive(archive().string(), destination().string(), nullptr);
    }
    std::string refusal(const std::string& entry, const std::string& problem) const {
        return "unzip: entry '" + entry + "' of " + archive().string() +
               " not unpacked: " + problem;
    }
};

TEST(LauncherRecords, NameTheLaunchersOwnFilesOnly) {
    for (const char* name :
         {"out.log", "CurrentVersion.ini", "CurrentVersion.ini.partial", "launcher.lock",
          ".unzip-12-3.partial", "OUT.LOG", "currentversion.INI"}) {
        EXPECT_TRUE(isLauncherRecordName(name)) << name;
    }
    for (const char* name :
         {"ReleaseIndex.sha256", "Game.app", "out.log.txt", "out.lo", "", ".unzip-.partial",
          ".unzip-1.partial", ".unzip-1-x.partial", "unzip-1-2.partial", ".unzip-1-2.partial2"}) {
        EXPECT_FALSE(isLauncherRecordName(name)) << name;
    }
    EXPECT_TRUE(isUnpackPartialName(".unzip-4242-0.partial"));
    EXPECT_FALSE(isUnpackPartialName("out.log"));
    EXPECT_TRUE(isResumablePartialName(".unzip-resume-3.partial"));
    for (const char* name : {".unzip-resume-.partial", ".unzip-resume-x.partial",
                             ".unzip-3.partial", ".unzip-resume-3.partial.x"}) {
        EXPECT_FALSE(isResumablePartialName(name)) << name;
    }
}

TEST_F(UnpackDestinationTest, TheLaunchersRecordsAreNeverWrittenReplacedOrLinked) {
    writeFile(destination() / "out.log", "the run log");
    writeFile(destination() / "CurrentVersion.ini", "[Version]\n");
    const std::vector<std::pair<ZipEntrySpec, std::string>> faults{
        {linkEntry("out.log", "."), "out.log is a record the launcher keeps in the destination"},
        {fileEntry("out.log", "x", 0444),
         "out.log is a record the launcher keeps in the destination"},
        {folderEntry("out.log/"), "out.log is a record the launcher keeps in the destination"},
        {fileEntry("./OUT.LOG", "x"), "OUT.LOG is a record the launcher keeps in the destination"},
        {fileEntry("CurrentVersion.ini", "x"),
         "CurrentVersion.ini is a record the launcher keeps in the destination"},
        {fileEntry("CurrentVersion.ini.partial/x", "x"),
         "CurrentVersion.ini.partial is a record the launcher keeps in the destination"},
        {fileEntry("launcher.lock", "x"),
         "launcher.lock is a record the launcher keeps in the destination"},
        {fileEntry("HighestManifestSerial", "0\n"),
         "HighestManifestSerial is a record the launcher keeps in the destination"},
        {linkEntry("highestmanifestserial", "/dev/null"),
         "highestmanifestserial is a record the launcher keeps in the destination"},
        {fileEntry("HighestManifestSerial.partial", "0\n"),
         "HighestManifestSerial.partial is a record the launcher keeps in the destination"},
        {fileEntry(".unzip-1-2.partial", "x"),
         ".unzip-1-2.partial is a record the launcher keeps in the destination"},
        {linkEntry("Game.app/.unzip-7-0.partial", "x"),
         ".unzip-7-0.partial is a name the unpacker keeps for unfinished files"},
        {fileEntry("Game.app/Contents/.unzip-resume-3.partial", "x"),
         ".unzip-resume-3.partial is a name the unpacker keeps for unfinished files"},
    };
    for (const auto& [entry, problem] : faults) {
        SCOPED_TRACE(entry.name);
        // The good entry comes first: names are checked before anything is written.
        EXPECT_FALSE(unpack({fileEntry("Game.app/data.txt", "new"), entry}));
        EXPECT_TRUE(logged(refusal(entry.name, problem))) << log();
        EXPECT_FALSE(fs::exists(destination() / "Game.app"));
        EXPECT_EQ(readFile(destination() / "out.log"), "the run log");
        EXPECT_FALSE(fs::is_symlink(destination() / "out.log"));
        EXPECT_EQ(readFile(destination() / "CurrentVersion.ini"), "[Version]\n");
    }

    // Below the top level the names are the game's own.
    ASSERT_TRUE(unpack({fileEntry("Game.app/out.log", "game log"),
                        fileEntry("Game.app/CurrentVersion.ini", "game data"),
                        fileEntry("ReleaseIndex.sha256", "index")}))
        << log();
    EXPECT_EQ(readFile(destination() / "Game.app/out.log"), "game log");
    EXPECT_EQ(readFile(destination() / "ReleaseIndex.sha256"), "index");
}

TEST_F(UnpackDestinationTest, WhatAnEarlierInstallLeftInTheWayIsReplacedInsideOnly) {
    const fs::path contents = destination() / "Game.app/Contents";
    const fs::path outside = scratch / "outside";
    writeFile(outside / "victim", "original");
    writeFile(contents / "Data", "a file, a folder now");
    writeFile(contents / "Plugins/Deep/er/lib.so", "a folder, a file now");
    fs::create_directory_symlink(outside, contents / "Plugins/Deep/to-outside");
    fs::create_symlink(outside / "victim", contents / "Plugins/victim-link");
    fs::permissions(contents / "Plugins/Deep/er", fs::perms(0555));
    fs::create_directory_symlink("Resources", contents / "Current");
    fs::create_directory_symlink(outside, contents / "Shared");
    writeFile(contents / "Resources/old.txt", "old");
    fs::create_directories(contents / "Frameworks/Old");
    ASSERT_EQ(mkfifo((contents / "Pipe").c_str(), 0644), 0);

    ASSERT_TRUE(unpack({
        fileEntry("Game.app/Contents/Data/level.txt", "level"),
        fileEntry("Game.app/Contents/Plugins", "plugins file"),
        folderEntry("Game.app/Contents/Current/"),
        fileEntry("Game.app/Contents/Current/new.txt", "new"),
        fileEntry("Game.app/Contents/Shared/evil", "inside"),
        linkEntry("Game.app/Contents/Frameworks", "Current"),
        folderEntry("Game.app/Contents/Pipe/"),
    })) << log();

    EXPECT_EQ(readFile(contents / "Data/level.txt"), "level");
    EXPECT_EQ(readFile(contents / "Plugins"), "plugins file");
    ASSERT_FALSE(fs::is_symlink(contents / "Current"));
    EXPECT_EQ(readFile(contents / "Current/new.txt"), "new");
    EXPECT_EQ(readFile(contents / "Resources/old.txt"), "old") << "the link went, not its target";
    ASSERT_FALSE(fs::is_symlink(contents / "Shared"));
    EXPECT_EQ(readFile(contents / "Shared/evil"), "inside");
    EXPECT_EQ(fs::read_symlink(contents / "Frameworks"), "Current");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(contents / "Pipe")));
    EXPECT_EQ(listTree(outside), std::vector<std::string>{"victim"});
    EXPECT_EQ(readFile(outside / "victim"), "original");
}

TEST_F(UnpackDestinationTest, ALaterEntryMayReplaceAnEarlierOneButNotWriteThroughItsLink) {
    ASSERT_TRUE(unpack({folderEntry("Game.app/", 0700), fileEntry("Game.app/a/b.txt", "b"),
                        fileEntry("Game.app", "a file at last")}))
        << log();
    EXPECT_EQ(readFile(destination() / "Game.app"), "a file at last");

    EXPECT_FALSE(
        unpack({folderEntry("sub/"), linkEntry("inside", "sub"), fileEntry("inside/evil", "x")}));
    EXPECT_TRUE(logged(refusal("inside/evil", "it would be written through the link inside")));
    EXPECT_FALSE(fs::exists(destination() / "sub/evil"));
}

TEST_F(UnpackDestinationTest, ModesLoseTheirGroupAndOtherWriteBits) {
    const fs::path app = destination() / "Game.app";
    fs::create_directories(app / "Contents");
    fs::permissions(app / "Contents", fs::perms(0777));
    ASSERT_TRUE(unpack({folderEntry("Game.app/", 0777),
                        fileEntry("Game.app/Contents/MacOS/Game", "#!/bin/sh\n", 0777),
                        fileEntry("Game.app/Contents/data.txt", "d", 0666),
                        fileEntry("Game.app/Contents/group.txt", "g", 0664),
                        folderEntry("Game.app/Shared/", 0775)}))
        << log();
    EXPECT_EQ(permissionsOf(app), 0755);
    EXPECT_EQ(permissionsOf(app / "Contents"), 0755) << "a folder written into is cleared too";
    EXPECT_EQ(permissionsOf(app / "Contents/MacOS/Game"), 0755);
    EXPECT_EQ(permissionsOf(app / "Contents/data.txt"), 0644);
    EXPECT_EQ(permissionsOf(app / "Contents/group.txt"), 0644);
    EXPECT_EQ(permissionsOf(app / "Shared"), 0755);
}

// Makes an archive whose one large entry takes a while to unpack.
void writeSlowArchive(const fs::path& path) {
    const std::string zeros(64 << 20, '\0');
    writeZip(path, {fileEntry("Game.app/Contents/MacOS/asset.bin", zeros)});
}

// Whether a partial file stands anywhere below folder.
bool hasPartial(const fs::path& folder) {
    for (const std::string& name : listTree(folder)) {
        if (isUnpackPartialName(fs::path(name).filename())) {
            return true;
        }
    }
    return false;
}

TEST_F(UnpackDestinationTest, TheNextUnpackRemovesWhatAKilledOneLeft) {
    writeSlowArchive(scratch / "slow.zip");
    const pid_t unpacker = fork();
    if (unpacker == 0) {
        // The slow unpack runs again and again so that a partial file is there to be caught.
        for (int i = 0; i < 200; ++i) {
            unzipArchive((scratch / "slow.zip").string(), destination().string(), nullptr);
        }
        _exit(0);
    }
    ASSERT_GT(unpacker, 0);
    bool caught = false;
    for (int i = 0; i < 2000 && !caught; ++i) {
        caught = hasPartial(destination());
        if (!caught) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    kill(unpacker, SIGKILL);
    waitpid(unpacker, nullptr, 0);
    ASSERT_TRUE(caught) << "the killed unpack left no partial file";
    ASSERT_TRUE(hasPartial(destination()));

    // Leftovers deeper down and as links, as an unpack of links leaves them; a partial name seen
    // through a link leads outside and stays, as do names that only look alike.
    std::string deep = "Game.app";
    for (int level = 0; level < 200; ++level) {
        deep += "/d";
    }
    writeFile(destination() / deep / ".unzip-99-1.partial", "deep");
    fs::create_symlink("nowhere", destination() / "Game.app/.unzip-99-2.partial");
    writeFile(scratch / "outside/.unzip-99-3.partial", "outside");
    fs::create_directory_symlink(scratch / "outside", destination() / "Game.app/outside");
    writeFile(destination() / "Game.app/.unzip-x.partial", "not ours");
    fs::create_directories(destination() / "Game.app/.unzip-99-4.partial");

    ASSERT_TRUE(unpack({fileEntry("Game.app/Contents/Info.plist", "plist")})) << log();
    EXPECT_FALSE(hasPartial(destination() / "Game.app/Contents"));
    EXPECT_FALSE(fs::exists(destination() / deep / ".unzip-99-1.partial"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(destination() / "Game.app/.unzip-99-2.partial")));
    EXPECT_EQ(readFile(scratch / "outside/.unzip-99-3.partial"), "outside");
    EXPECT_EQ(readFile(destination() / "Game.app/.unzip-x.partial"), "not ours");
    EXPECT_TRUE(fs::is_directory(destination() / "Game.app/.unzip-99-4.partial"));
    EXPECT_TRUE(logged("unzip: removed 3 unfinished files of an earlier unpack from " +
                       destination().string()))
        << log();
}

} // namespace

// Connections stage entries of one release at once: each may be the first to need a folder,
// or find a file of an earlier run where the folder belongs, while another is making it.
TEST(UnpackPaths, WritersMakingTheSameFoldersAtOnceAllGetThem) {
    constexpr int writers = 4;
    for (const bool fileInTheWay : {false, true}) {
        for (int round = 0; round < 200; ++round) {
            const TempFolder root;
            if (fileInTheWay) {
                writeFile(root.path() / "a", "left by an earlier run");
            }
            const Descriptor rootFd(open(root.str().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            std::atomic<int> ready{0};
            std::vector<Problem> problems(writers);
            std::vector<std::thread> threads;
            for (int writer = 0; writer < writers; ++writer) {
                threads.emplace_back([&, writer] {
                    ++ready;
                    while (ready.load() < writers) {
                    }
                    const std::vector<std::string> path{"a", "b", "c", std::to_string(writer)};
                    const Descriptor made =
                        openFolder(rootFd.fd, path, path.size(), {}, problems[writer]);
                    if (!made.valid() && problems[writer].empty()) {
                        problems[writer] = "no folder";
                    }
                });
            }
            for (std::thread& thread : threads) {
                thread.join();
            }
            for (const Problem& problem : problems) {
                ASSERT_EQ(problem, "") << "round " << round << (fileInTheWay ? ", a file" : "");
            }
        }
    }
}
