// Updates that never leave the player without a game: killed at any moment of the fetch, the
// staging or the commit, the data folder holds one whole release that offline play starts, and
// the next run finishes the update; a release that drops a file removes it and nothing the player
// made; a disk without the room is refused before the entries are fetched.
#include "tests/e2e/entry_wise_fixture.h"

#include <csignal>
#include <functional>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const PlistEntries offlinePlay{{"startInstalledGameWhenOffline", "<integer>1</integer>"}};

class StagedUpdate : public EntryWiseInstall {
  protected:
    // The game as installed: the data folder without the launcher's records.
    std::map<std::string, std::string> gameFiles() const {
        auto tree = installedTree();
        std::erase_if(tree, [](const auto& item) { return item.first.starts_with(".launcher-"); });
        return tree;
    }

    void announceWithOfflinePlay(const std::string& version, const std::string& archive) {
        announce(version, archive);
        configure("1.0", "/LatestVersion.ini", offlinePlay);
    }

    void killLaunchers() {
        for (const pid_t launcher : runningLaunchers()) {
            kill(launcher, SIGKILL);
        }
    }

    bool waitForPath(const fs::path& path) const {
        for (int i = 0; i < 1200 && !fs::exists(path); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return fs::exists(path);
    }

    // After a kill: offline, the game started is one whole release, from or to; online, to is
    // installed whole and started, with nothing of the update left behind.
    void expectOneReleaseThenTheNew(int from, int to) {
        server->stop();
        const ChildResult offline = runLauncher();
        EXPECT_EQ(offline.exitStatus, 0) << offline.standardError;
        const auto files = gameFiles();
        const bool old = files == trees[from];
        EXPECT_TRUE(old || files == trees[to]) << "a mixture of two releases";
        const auto starts = gameStarts(++startCount);
        ASSERT_EQ(starts.size(), startCount);
        EXPECT_EQ(starts.back().version, old ? versions[from] : versions[to]);
        started.stopAll();

        serve({.extraDirectives = slowly});
        announceWithOfflinePlay(versions[to], archives[to]);
        const ChildResult online = runLauncher();
        EXPECT_EQ(online.exitStatus, 0) << online.standardError;
        EXPECT_EQ(gameFiles(), trees[to]);
        const auto again = gameStarts(++startCount);
        ASSERT_EQ(again.size(), startCount);
        EXPECT_EQ(again.back().version, versions[to]);
        EXPECT_FALSE(fs::exists(dataFolder / ".launcher-staging"));
        EXPECT_FALSE(fs::exists(dataFolder / ".launcher-commit"));
        started.stopAll();
    }

    // 1.0 installed; 1.1 changes every asset and Info.plist.
    void publishBoth() {
        serve({.extraDirectives = slowly});
        std::set<int> all;
        for (int n = 0; n < assetCount; ++n) {
            all.insert(n);
        }
        archives[0] = publishWithAssets(versions[0]);
        archives[1] = publishWithAssets(versions[1], all);
        trees[0] = plainUnpack(archives[0]);
        trees[1] = plainUnpack(archives[1]);
        announceWithOfflinePlay(versions[0], archives[0]);
        ASSERT_EQ(runLauncher().exitStatus, 0);
        ASSERT_EQ(gameStarts(++startCount).size(), startCount);
        started.stopAll();
    }

    static constexpr const char* slowly = "        limit_rate 512k;\n";
    const std::string versions[2] = {"1.0", "1.1"};
    std::string archives[2];
    std::map<std::string, std::string> trees[2];
    std::size_t startCount = 0;
};

} // namespace

// Twelve moments spread over the fetch and the staging of an update (a slowed link), each one
// going the other way between the two releases.
TEST_F(StagedUpdate, AnUpdateKilledWhileItFetchesLeavesOneWholeReleaseAndTheNextRunFinishesIt) {
    SKIP_WITHOUT_DISPLAY();
    assetSize = 48 * 1024;
    publishBoth();
    int from = 0;
    for (int moment = 0; moment < 12; ++moment) {
        SCOPED_TRACE("moment " + std::to_string(moment));
        const int to = 1 - from;
        announceWithOfflinePlay(versions[to], archives[to]);
        fs::remove_all(dataFolder / ".launcher-staging");
        auto run = startLauncher();
        ASSERT_TRUE(waitForPath(dataFolder / ".launcher-staging/tree"));
        std::this_thread::sleep_for(std::chrono::milliseconds(150 * moment));
        killLaunchers();
        EXPECT_NE(run.get().exitStatus, 0) << "killed before the update was complete";
        expectOneReleaseThenTheNew(from, to);
        from = to;
    }
}

// Eight moments in the commit: after the journal was made durable, between the moves, and once
// every staged file is in place. The next start finishes the commit, offline play included.
TEST_F(StagedUpdate, AnUpdateKilledDuringItsCommitIsFinishedByTheNextStart) {
    SKIP_WITHOUT_DISPLAY();
    publishBoth();
    int from = 0;
    // Every asset, Info.plist and the release index change: 26 files move.
    for (const int moved : {0, 1, 4, 9, 13, 17, 25, 26}) {
        SCOPED_TRACE("killed after " + std::to_string(moved) + " moves");
        const int to = 1 - from;
        announceWithOfflinePlay(versions[to], archives[to]);
        extraEnvironment["LAUNCHER_TEST_COMMIT_PAUSE_AT"] = std::to_string(moved);
        auto run = startLauncher();
        ASSERT_TRUE(waitForLogMention("test pause in the commit after " + std::to_string(moved) +
                                      " moves"));
        killLaunchers();
        EXPECT_NE(run.get().exitStatus, 0);
        extraEnvironment.clear();
        EXPECT_TRUE(fs::exists(dataFolder / ".launcher-commit"));

        server->stop();
        const ChildResult offline = runLauncher();
        EXPECT_EQ(offline.exitStatus, 0) << offline.standardError;
        EXPECT_TRUE(lastRunHas("Finished the update that an earlier run left unfinished in " +
                               dataFolder.string()));
        EXPECT_EQ(gameFiles(), trees[to]);
        ASSERT_EQ(gameStarts(++startCount).size(), startCount);
        EXPECT_EQ(gameStarts(startCount).back().version, versions[to]);
        started.stopAll();
        serve({.extraDirectives = slowly});
        from = to;
    }
}

TEST_F(StagedUpdate, AReleaseThatDropsAFileRemovesItAndNothingThePlayerMade) {
    SKIP_WITHOUT_DISPLAY();
    // Entry-wise, then through the whole archive (a server without ranges).
    for (const bool ranges : {true, false}) {
        SCOPED_TRACE(ranges ? "entry-wise" : "whole archive");
        serve({.extraDirectives = ranges ? "" : "        max_ranges 0;\n"});
        const std::string tag = ranges ? "a" : "b";
        announce("1.0" + tag, publishWithAssets("1.0" + tag, {}, "dropped.txt"));
        ASSERT_EQ(runLauncher().exitStatus, 0);
        started.stopAll();
        const fs::path assets = dataFolder / gameBundleName() / "Contents/Resources/Assets";
        ASSERT_TRUE(fs::exists(assets / "dropped.txt"));
        writeFile(dataFolder / "save.dat", "a save beside the bundle");
        writeFile(assets / "mod.dat", "a file the player put in the bundle");
        fs::create_directories(dataFolder / gameBundleName() / "Contents/Mods");
        writeFile(dataFolder / gameBundleName() / "Contents/Mods/mine.dat", "the player's");

        const std::string second = publishWithAssets("1.1" + tag, {3});
        announce("1.1" + tag, second);
        const ChildResult updated = runLauncher();
        EXPECT_EQ(updated.exitStatus, 0) << updated.standardError;
        started.stopAll();
        EXPECT_FALSE(fs::exists(assets / "dropped.txt"));
        EXPECT_EQ(readFile(dataFolder / "save.dat"), "a save beside the bundle");
        EXPECT_EQ(readFile(assets / "mod.dat"), "a file the player put in the bundle");
        EXPECT_EQ(readFile(dataFolder / gameBundleName() / "Contents/Mods/mine.dat"),
                  "the player's");
        auto expected = plainUnpack(second);
        expected["save.dat"] = "a save beside the bundle";
        expected[gameBundleName() + "/Contents/Resources/Assets/mod.dat"] =
            "a file the player put in the bundle";
        expected[gameBundleName() + "/Contents/Mods/mine.dat"] = "the player's";
        EXPECT_EQ(gameFiles(), expected);
        EXPECT_FALSE(fs::exists(dataFolder / (displayName + ".zip")));
        fs::remove(dataFolder / "save.dat");
        fs::remove(assets / "mod.dat");
        fs::remove_all(dataFolder / gameBundleName() / "Contents/Mods");
    }
}

namespace {

// A small tmpfs mounted over the data folder for one test; root only.
struct SmallDisk {
    fs::path where;
    bool mounted = false;
    SmallDisk(const fs::path& folder, std::uint64_t bytes) : where(folder) {
        fs::create_directories(folder);
        const std::string options = "size=" + std::to_string(bytes);
        mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted) {
            ::umount2(where.c_str(), MNT_DETACH);
        }
    }
};

std::uint64_t treeBytes(const std::map<std::string, std::string>& tree) {
    std::uint64_t bytes = 0;
    for (const auto& [name, contents] : tree) {
        bytes += (contents.size() + 4095) / 4096 * 4096;
    }
    return bytes;
}

} // namespace

TEST_F(StagedUpdate, ADiskWithoutTheRoomIsRefusedBeforeTheEntriesAreFetchedOnBothRoads) {
    SKIP_WITHOUT_DISPLAY();
    if (geteuid() != 0) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    for (const bool ranges : {true, false}) {
        SCOPED_TRACE(ranges ? "entry-wise" : "whole archive");
        serve({.extraDirectives = ranges ? "" : "        max_ranges 0;\n"});
        const std::string tag = ranges ? "a" : "b";
        const std::string first = publishWithAssets("1.0" + tag);
        std::set<int> all;
        for (int n = 0; n < assetCount; ++n) {
            all.insert(n);
        }
        const std::string second = publishWithAssets("1.1" + tag, all);
        auto firstTree = plainUnpack(first);
        // Room for the first install (the whole-archive road holds the archive beside it)...
        fs::remove_all(dataFolder);
        const SmallDisk disk(dataFolder, treeBytes(firstTree) * 2 + 1024 * 1024);
        ASSERT_TRUE(disk.mounted);
        announceWithOfflinePlay("1.0" + tag, first);
        ASSERT_EQ(runLauncher().exitStatus, 0);
        started.stopAll();
        // ...then the disk fills with something else, leaving less than the update needs.
        struct statvfs status {};
        ASSERT_EQ(statvfs(dataFolder.c_str(), &status), 0);
        const std::uint64_t freeBytes =
            static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
        ASSERT_GT(freeBytes, 256U * 1024);
        writeFile(dataFolder / "other.bin", std::string(freeBytes - 256 * 1024, 'x'));
        firstTree["other.bin"] = readFile(dataFolder / "other.bin");

        announceWithOfflinePlay("1.1" + tag, second);
        const long long before = server->bytesSent(second);
        const ChildResult refused = runLauncher();
        EXPECT_EQ(refused.exitStatus, 1) << refused.standardError;
        EXPECT_TRUE(lastRunMentions("Not enough free space in " + dataFolder.string() +
                                    ": the update needs "));
        EXPECT_TRUE(lastRunMentions(" MiB are free"));
        const auto archiveBytes =
            static_cast<long long>(fs::file_size(releases / second.substr(1)));
        // Entry-wise: only the archive's end, read to plan. Whole archive: the refused range
        // request and a HEAD request, never the download.
        if (ranges) {
            EXPECT_LT(server->bytesSent(second) - before, archiveBytes / 2);
        }
        EXPECT_EQ(requestsFor("GET " + second + " 200"), ranges ? 0 : 1);
        EXPECT_EQ(gameFiles(), firstTree);
        EXPECT_FALSE(fs::exists(dataFolder / (displayName + ".zip")));
        EXPECT_NE(readFile(dataFolder / "CurrentVersion.ini").find("ApplicationVersion=1.0"),
                  std::string::npos);

        server->stop();
        const ChildResult offline = runLauncher();
        EXPECT_EQ(offline.exitStatus, 0) << offline.standardError;
        EXPECT_EQ(gameStarts(2).back().version, "1.0" + tag);
        started.stopAll();
        fs::remove(gameRecord);
    }
}

// A publisher's mistake is no update: whatever the archive lacks of the game, the installed one
// stays whole, recorded and playable offline, and nothing staged is kept.
TEST_F(StagedUpdate, AReleaseWithoutTheGameLeavesTheInstalledOneWholeOnBothRoads) {
    SKIP_WITHOUT_DISPLAY();
    const std::string executable = gameBundleName() + "/Contents/MacOS/sample_game";
    struct Fault {
        const char* what;
        std::function<std::string(const std::string& version)> publish;
        std::string line;
    };
    const std::vector<Fault> faults{
        {"a 0-byte answer",
         [this](const std::string& version) {
             writeFile(releases / ("empty-" + version + ".zip"), "");
             return "/empty-" + version + ".zip";
         },
         "failed to unzip file"},
        {"an empty ZIP",
         [this](const std::string& version) {
             writeFile(releases / ("none-" + version + ".zip"),
                       std::string("PK\x05\x06", 4) + std::string(18, '\0'));
             return "/none-" + version + ".zip";
         },
         "Update refused, the installed game stays as it is: it holds no " + gameBundleName()},
        {"a bundle under another name",
         [this](const std::string& version) { return publishGame(version, "Other-"); },
         "Update refused, the installed game stays as it is: it holds no " + gameBundleName()},
        {"a bundle without its executable",
         [this, &executable](const std::string& version) {
             const std::string archive = publishGame(version);
             EXPECT_EQ(runChild("/usr/bin/zip",
                                {"-q", "-d", (releases / archive.substr(1)).string(), executable})
                           .exitStatus,
                       0);
             return archive;
         },
         "Update refused, the installed game stays as it is: it holds no executable " +
             executable}};
    for (const bool ranges : {true, false}) {
        SCOPED_TRACE(ranges ? "entry-wise" : "whole archive");
        serve({.extraDirectives = ranges ? "" : "        max_ranges 0;\n"});
        const std::string installed = ranges ? "1.0a" : "1.0b";
        announceWithOfflinePlay(installed, publishGame(installed));
        ASSERT_EQ(runLauncher().exitStatus, 0);
        started.stopAll();
        const auto tree = gameFiles();
        const std::string record = readFile(dataFolder / "CurrentVersion.ini");
        int release = 1;
        for (const Fault& fault : faults) {
            SCOPED_TRACE(fault.what);
            const std::string version = installed + "." + std::to_string(release++);
            announceWithOfflinePlay(version, fault.publish(version));
            EXPECT_EQ(runLauncher().exitStatus, 1);
            EXPECT_TRUE(lastRunHas(fault.line)) << fault.line;
            EXPECT_FALSE(lastRunMentions("Update put in place"));
            EXPECT_EQ(gameFiles(), tree);
            EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), record);
            EXPECT_FALSE(fs::exists(dataFolder / ".launcher-staging"));
            EXPECT_FALSE(fs::exists(dataFolder / ".launcher-commit"));
            EXPECT_FALSE(fs::exists(dataFolder / (displayName + ".zip")));
        }
        server->stop();
        const ChildResult offline = runLauncher();
        EXPECT_EQ(offline.exitStatus, 0) << offline.standardError;
        const auto starts = gameStarts(2);
        ASSERT_EQ(starts.size(), 2u);
        EXPECT_EQ(starts.back().version, installed);
        started.stopAll();
        fs::remove(gameRecord);
    }
}
