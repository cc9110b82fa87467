// Entry-wise installs cut off half way, by the server going away or by the launcher being killed:
// the next run fetches only what the first did not put in place. A first install killed after its
// game's start, before the sync that makes it durable, is finished by the next run on either road.
#include "tests/e2e/entry_wise_fixture.h"
#include "tests/e2e/tcp_relay.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <iostream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Ids of the running processes whose program is executable (the launcher and the content
// installer it started, in this test's own sandbox).
std::vector<int> processesOf(const fs::path& executable) {
    std::vector<int> found;
    const fs::path wanted = fs::canonical(executable);
    for (const auto& item : fs::directory_iterator("/proc")) {
        const std::string name = item.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code error;
        const fs::path program = fs::read_symlink(item.path() / "exe", error);
        if (!error && program == wanted && processIsAlive(std::stoi(name))) {
            found.push_back(std::stoi(name));
        }
    }
    return found;
}

class EntryWiseResume : public EntryWiseInstall {
  protected:
    // About 5 MiB, so that what any run costs beyond its entries (the archive's end, the entry
    // cut off, what the server had sent into the socket at the cut) stays well inside the 10 %
    // allowed, also on a busy machine.
    EntryWiseResume() { assetSize = 192 * 1024; }

    // Assets of the sample game put in place so far.
    int assetsInPlace() const {
        int count = 0;
        for (int n = 0; n < assetCount; ++n) {
            count += fs::is_regular_file(dataFolder / assetPath(n)) ? 1 : 0;
        }
        return count;
    }

    // Assets fetched, verified and staged so far: until every entry is, the game is not touched.
    int assetsStaged() const {
        int count = 0;
        for (int n = 0; n < assetCount; ++n) {
            count +=
                fs::is_regular_file(dataFolder / ".launcher-staging/tree" / assetPath(n)) ? 1 : 0;
        }
        return count;
    }

    // Runs the launcher on its own thread and calls cut once reached says so.
    ChildResult runCutWhen(const std::function<bool()>& reached, const std::function<void()>& cut) {
        ChildResult result;
        std::thread run([&] { result = runLauncher(); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!reached() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        cut();
        run.join();
        return result;
    }

    // Runs the launcher on its own thread and calls cut once half of the assets are staged.
    ChildResult runCutAtHalf(const std::function<void()>& cut) {
        return runCutWhen(
            [&] {
                EXPECT_LT(assetsStaged(), assetCount) << "the install was not slowed down enough";
                return assetsStaged() >= assetCount / 2;
            },
            cut);
    }

    void killLauncher() {
        for (const int pid : processesOf(sandbox.launcherExecutable())) {
            kill(pid, SIGKILL);
        }
    }

    // The largest unfinished file among the staged assets (the big one's, being written) and its
    // size; none and 0 when there is none.
    std::pair<fs::path, std::uintmax_t> bigPartial() const {
        const fs::path folder =
            dataFolder / ".launcher-staging/tree" / gameBundleName() / "Contents/Resources/Assets";
        std::pair<fs::path, std::uintmax_t> found;
        std::error_code error;
        for (const auto& item : fs::directory_iterator(folder, error)) {
            const std::uintmax_t size = item.file_size(error);
            if (!error && item.path().filename().string().ends_with(".partial") &&
                size > found.second) {
                found = {item.path(), size};
            }
        }
        return found;
    }

    // Where the first of messages that mentions text stands; messages.size() when none does.
    static std::size_t positionOf(const std::vector<std::string>& messages,
                                  const std::string& text) {
        const auto found = std::find_if(messages.begin(), messages.end(), [&](const auto& message) {
            return message.find(text) != std::string::npos;
        });
        return static_cast<std::size_t>(found - messages.begin());
    }

    // The run log's messages after the first earlier ones, once one of them mentions text (at
    // most a minute); empty when none comes.
    std::vector<std::string> messagesOnceMentioned(std::size_t earlier,
                                                   const std::string& text) const {
        for (int i = 0; i < 1200; ++i) {
            const auto all = sandbox.logMessages();
            std::vector<std::string> since(all.begin() + std::min(earlier, all.size()), all.end());
            if (positionOf(since, text) < since.size()) {
                return since;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return {};
    }

    // Slow enough that half an install takes seconds.
    static constexpr const char* slowly = "        limit_rate 384k;\n";
};

} // namespace

TEST_F(EntryWiseResume, AConnectionDroppedHalfWayIsResumedByTheNextRun) {
    SKIP_WITHOUT_DISPLAY();
    serve({.extraDirectives = slowly});
    const std::string archive = publishWithAssets("1.0");
    // The archive through a relay that the network's going away cuts.
    TcpRelay relay(server->port());
    publishManifest("1.0", relay.url(archive), "", "1.0");
    configure("1.0", "/LatestVersion.ini");
    const ChildResult cut = runCutAtHalf([&] { relay.cut(); });
    EXPECT_EQ(cut.exitStatus, 1) << cut.standardError;
    EXPECT_TRUE(lastRunHas("curl_easy_perform() failed: Couldn't connect to server"));
    EXPECT_TRUE(gameStarts(1).empty());
    EXPECT_GE(assetsStaged(), assetCount / 2);
    EXPECT_EQ(assetsInPlace(), 0) << "nothing is put in place before every entry is staged";
    const long long firstBytes = relay.bytesBack();
    const long long before = server->bytesSent(archive);

    announce("1.0", archive);
    const ChildResult resumed = runLauncher();
    EXPECT_EQ(resumed.exitStatus, 0) << resumed.standardError;
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(installedTree(), plainUnpack(archive));
    const auto archiveBytes = static_cast<long long>(fs::file_size(releases / archive.substr(1)));
    const long long secondBytes = server->bytesSent(archive) - before;
    EXPECT_GT(firstBytes, archiveBytes / 3);
    EXPECT_LE(firstBytes + secondBytes, archiveBytes * 11 / 10)
        << firstBytes << " + " << secondBytes << " of " << archiveBytes;
}

TEST_F(EntryWiseResume, ALauncherKilledHalfWayIsResumedByTheNextRun) {
    SKIP_WITHOUT_DISPLAY();
    serve({.extraDirectives = slowly});
    const std::string archive = publishWithAssets("1.0");
    announce("1.0", archive);
    const ChildResult cut = runCutAtHalf([&] { killLauncher(); });
    EXPECT_NE(cut.exitStatus, 0);
    EXPECT_TRUE(gameStarts(1).empty());
    EXPECT_GE(assetsStaged(), assetCount / 2);
    EXPECT_EQ(assetsInPlace(), 0) << "nothing is put in place before every entry is staged";

    // The same server: the bytes of the cut request are in its log with those of the next run.
    const ChildResult resumed = runLauncher();
    EXPECT_EQ(resumed.exitStatus, 0) << resumed.standardError;
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(installedTree(), plainUnpack(archive));
    const auto archiveBytes = static_cast<long long>(fs::file_size(releases / archive.substr(1)));
    EXPECT_LE(server->bytesSent(archive), archiveBytes * 11 / 10) << server->bytesSent(archive);
}

// A first install has no game to protect: its game starts before the one sync makes its files
// durable, and nothing claims them (version, record, journal) until that sync. A run killed
// there is finished by the next: nothing fetched again entry-wise, the version recorded once the
// files are durable, the game started.
TEST_F(EntryWiseResume, AFirstInstallKilledAfterItsGameStartedBeforeItsSyncIsFinishedByTheNextRun) {
    SKIP_WITHOUT_DISPLAY();
    const std::string putInPlace = "First install put in place in " + dataFolder.string() + ": ";
    const std::string madeDurable = "First install made durable in " + dataFolder.string();
    for (const bool ranges : {true, false}) {
        SCOPED_TRACE(ranges ? "entry-wise" : "whole archive");
        serve({.extraDirectives = ranges ? "" : "        max_ranges 0;\n"});
        const std::string version = ranges ? "1.0a" : "1.0b";
        const std::string archive = publishWithAssets(version);
        const auto tree = plainUnpack(archive);
        forgetTheInstall();
        announce(version, archive);
        extraEnvironment["LAUNCHER_TEST_PAUSE_BEFORE_FIRST_SYNC"] = "1";
        const std::size_t earlier = sandbox.logMessages().size();
        auto run = startLauncher();
        const std::string pause = "test pause before the first install's sync";
        const auto messages = messagesOnceMentioned(earlier, pause);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(positionOf(messages, putInPlace) + 1, positionOf(messages, pause));
        EXPECT_EQ(positionOf(messages, madeDurable), messages.size());
        // The game runs, whole, and nothing claims its files yet.
        ASSERT_EQ(gameStarts(1).size(), 1u);
        EXPECT_EQ(gameStarts(1).back().version, version);
        auto inPlace = installedTree();
        EXPECT_EQ(inPlace.erase(".launcher-installed-files.unsynced"), 1u);
        EXPECT_EQ(inPlace, tree);
        EXPECT_FALSE(fs::exists(dataFolder / "CurrentVersion.ini"));
        EXPECT_FALSE(fs::exists(dataFolder / ".launcher-installed-files"));
        EXPECT_FALSE(fs::exists(dataFolder / ".launcher-commit"));
        killLauncher();
        EXPECT_NE(run.get().exitStatus, 0);
        extraEnvironment.clear();
        started.stopAll();

        const long long sentBefore = server->bytesSent(archive);
        const ChildResult next = runLauncher();
        EXPECT_EQ(next.exitStatus, 0) << next.standardError;
        if (ranges) {
            const auto archiveBytes =
                static_cast<long long>(fs::file_size(releases / archive.substr(1)));
            EXPECT_LT(server->bytesSent(archive) - sentBefore, archiveBytes / 2);
        }
        EXPECT_LT(positionOf(lastRun(), putInPlace), positionOf(lastRun(), madeDurable));
        EXPECT_LT(positionOf(lastRun(), madeDurable), lastRun().size());
        EXPECT_NE(readFile(dataFolder / "CurrentVersion.ini").find("ApplicationVersion=" + version),
                  std::string::npos);
        EXPECT_TRUE(fs::exists(dataFolder / ".launcher-installed-files"));
        EXPECT_FALSE(fs::exists(dataFolder / ".launcher-installed-files.unsynced"));
        ASSERT_EQ(gameStarts(2).size(), 2u);
        EXPECT_EQ(gameStarts(2).back().version, version);
        EXPECT_EQ(installedTree(), tree);
        started.stopAll();
        fs::remove(gameRecord);
    }
}

namespace {

// A launcher killed inside a big stored entry; its staged beginning as left, or with a byte
// changed on the disk meanwhile.
struct BigEntryCut {
    const char* name;
    bool damageStagedBytes;
};

class BigStoredEntryResume : public EntryWiseResume,
                             public testing::WithParamInterface<BigEntryCut> {};

constexpr std::uintmax_t cutAfterBytes = 1024 * 1024;

} // namespace

TEST_F(EntryWiseResume, AnInstallWhoseServerStopsHalfWayFinishesFromTheMirrorKeepingWhatIsStaged) {
    SKIP_WITHOUT_DISPLAY();
    serve({.extraDirectives = slowly});
    NginxServer mirror(releases);
    const std::string archive = publishWithAssets("1.0");
    const auto archiveBytes = static_cast<long long>(fs::file_size(releases / archive.substr(1)));
    publishManifest("1.0", archive, "", "1.0");
    std::ofstream(releases / "LatestVersion.ini", std::ios::app)
        << "ApplicationDownloadMirrorUrls=" << mirror.url(archive) << "\n";
    configure("1.0", "/LatestVersion.ini",
              {{"contentTransferConnections", "<integer>4</integer>"}});
    NginxServer* primary = server.get();
    const ChildResult result = runCutAtHalf([&] { primary->stop(); });
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(installedTree(), plainUnpack(archive));
    EXPECT_TRUE(lastRunMentions(server->url(archive) +
                                " dropped (Couldn't connect to server), carrying on from " +
                                mirror.url(archive)));
    // The half staged from the first place stays: the mirror sends the rest, and the reads that
    // parse the archive again.
    EXPECT_LT(mirror.bytesSent(archive), archiveBytes * 3 / 4) << mirror.bytesSent(archive);
}

TEST_P(BigStoredEntryResume, CarriesOnFromTheStagedBytesOnlyWhenTheyCheckOut) {
    SKIP_WITHOUT_DISPLAY();
    assetSize = assetBytes;
    bigAssetSize = 3 * 1024 * 1024;
    serve({.extraDirectives = slowly});
    const std::string archive = publishWithAssets("1.0");
    announce("1.0", archive);
    const fs::path published = releases / archive.substr(1);
    const auto archiveBytes = static_cast<long long>(fs::file_size(published));
    // Random bytes: their first KiB is found in the archive only where the entry's data start.
    const std::size_t dataStart =
        readFile(published).find(randomBytes(bigAssetSize, bigAssetSeed).substr(0, 1024));
    ASSERT_NE(dataStart, std::string::npos) << "the big asset is not stored";

    const ChildResult cut =
        runCutWhen([&] { return bigPartial().second >= cutAfterBytes; }, [&] { killLauncher(); });
    EXPECT_NE(cut.exitStatus, 0);
    const auto [partial, staged] = bigPartial();
    ASSERT_GE(staged, cutAfterBytes);
    ASSERT_LT(staged, bigAssetSize) << "the install was not slowed down enough";
    if (GetParam().damageStagedBytes) {
        std::string bytes = readFile(partial);
        bytes[bytes.size() / 2] ^= 0x01;
        writeFile(partial, bytes);
    }
    const long long firstBytes = server->bytesSent(archive);
    const std::size_t firstRequests = server->rangeStarts(archive).size();

    const ChildResult resumed = runLauncher();
    EXPECT_EQ(resumed.exitStatus, 0) << resumed.standardError;
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(installedTree(), plainUnpack(archive));
    const long long twice = server->bytesSent(archive) - archiveBytes;
    std::cout << "[ figures  ] " << GetParam().name << ": archive " << archiveBytes
              << " bytes, sent " << firstBytes << " + " << server->bytesSent(archive) - firstBytes
              << ", fetched twice " << twice << ", staged at the cut " << staged << "\n";
    const std::vector<std::uint64_t> starts = server->rangeStarts(archive);
    const std::vector<std::uint64_t> second(starts.begin() + static_cast<long>(firstRequests),
                                            starts.end());
    const bool fromStagedEnd = std::count(second.begin(), second.end(), dataStart + staged) > 0;
    if (!GetParam().damageStagedBytes) {
        EXPECT_TRUE(fromStagedEnd) << "no request of the second run starts after the staged bytes";
        // The archive's end and the entry's header are read again, not the staged bytes.
        EXPECT_LT(twice, static_cast<long long>(staged / 2)) << twice;
        return;
    }
    EXPECT_TRUE(lastRunMentions("not resumed: its CRC-32 differs from the archive's"));
    // Its header and first bytes are read before the staged bytes are hashed, and its first
    // bytes on from there when it is fetched whole.
    EXPECT_GE(std::count_if(second.begin(), second.end(),
                            [&](std::uint64_t start) { return start < dataStart + 64 * 1024; }),
              2)
        << "the entry was not fetched again from its first bytes";
}

INSTANTIATE_TEST_SUITE_P(Cuts, BigStoredEntryResume,
                         testing::Values(BigEntryCut{"Resumed", false},
                                         BigEntryCut{"DamagedStagedBytes", true}),
                         [](const testing::TestParamInfo<BigEntryCut>& info) {
                             return std::string(info.param.name);
                         });
