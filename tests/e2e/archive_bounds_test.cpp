// Archives that claim one thing and hold another, end to end on both install roads. Each is
// crafted from a release that launcher-publish made.
#include "tests/e2e/entry_wise_fixture.h"

#include <algorithm>
#include <iostream>

namespace fs = std::filesystem;

namespace {

constexpr char hostileArchives[] = LAUNCHER_SOURCE_DIR "/tests/e2e/hostile_archives.py";

// How much more memory than the plain release's run a run with a hostile archive may take at its
// peak: 64 MiB, and 1 KiB for each entry of the archive. The plain run's peak, most of it the
// installer window (SDL, the renderer and its libraries, the decoded animation), is measured on
// the same road in the same test.
long memoryAllowanceKiB(long entries) {
    return 64 * 1024 + entries;
}

// The figures beside their pair, for whoever reads the test's output, held to the allowance in
// the normal build only: a sanitizer's redzones and quarantine inflate them (ASan by more than
// 100 MB) whatever the launcher keeps.
void expectPeakWithinAllowance(long peakKiB, long plainPeakKiB, long entries) {
    std::cout << "peak resident memory: " << peakKiB << " KiB, the plain release's " << plainPeakKiB
              << " KiB, allowed " << plainPeakKiB + memoryAllowanceKiB(entries) << " KiB\n";
#ifndef LAUNCHER_SANITIZED_BUILD
    EXPECT_LE(peakKiB, plainPeakKiB + memoryAllowanceKiB(entries)) << "peak resident memory in KiB";
#endif
}

struct Road {
    const char* name;
    bool ranges;
};
const Road roads[] = {{"entry-wise", true}, {"whole-archive", false}};

class ArchiveBounds : public EntryWiseInstall {
  protected:
    void serveRoad(const Road& road) {
        serve({.extraDirectives = road.ranges ? "" : "max_ranges 0;"});
    }

    // The last run took road.
    void expectRoad(const Road& road) const {
        EXPECT_EQ(lastRunMentions("fetching the whole archive"), !road.ranges);
    }

    // Runs hostile_archives.py on the published archive at archivePath.
    void craft(const std::string& archivePath, const std::vector<std::string>& change) {
        std::vector<std::string> arguments{hostileArchives, change.front(),
                                           (releases / archivePath.substr(1)).string()};
        arguments.insert(arguments.end(), change.begin() + 1, change.end());
        const ChildResult crafted = runChild("/usr/bin/python3", arguments);
        ASSERT_EQ(crafted.exitStatus, 0) << crafted.standardError;
    }

    // Installs the plain game at version from road and answers the run's peak memory.
    long installPlain(const Road& road, const std::string& version) {
        serveRoad(road);
        announce(version, publishGame(version));
        const ChildResult result = runLauncher();
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        EXPECT_EQ(gameStarts(++gamesStarted).size(), gamesStarted);
        started.stopAll();
        return result.peakResidentKiB;
    }

    // The game at version, changed by change, announced unsigned.
    std::string publishCrafted(const std::string& version, const std::vector<std::string>& change) {
        const std::string archive = publishGame(version);
        craft(archive, change);
        announce(version, archive);
        return archive;
    }

    std::string archiveLabel() const { return dataFolder.string() + "/" + displayName + ".zip"; }

    std::string resource(const std::string& name) const {
        return gameBundleName() + "/Contents/Resources/" + name;
    }

    // The run failed, wrote the line and, when next is not empty, next right after it, and
    // started no game.
    void expectRefused(const ChildResult& result, const std::string& line,
                       const std::string& next = "failed to unzip file") const {
        EXPECT_EQ(result.exitStatus, 1) << result.standardError;
        if (next.empty()) {
            EXPECT_TRUE(lastRunHas(line)) << line;
        } else {
            EXPECT_TRUE(lastRunHasInOrder(line, next)) << line;
        }
        EXPECT_EQ(readGameStarts(gameRecord).size(), gamesStarted) << "no game is started";
        EXPECT_FALSE(partialsLeft());
    }

    std::size_t gamesStarted = 0;
};

} // namespace

TEST_F(ArchiveBounds, AnEntryThatInflatesPastItsDeclaredSizeIsRefusedOnBothRoads) {
    SKIP_WITHOUT_DISPLAY();
    int release = 0;
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        serveRoad(road);
        const std::string name = resource("level.bin");
        publishCrafted("1." + std::to_string(release++), {"inflating", name, "20971520"});

        expectRefused(runLauncher(), "unzip: entry '" + name + "' of " + archiveLabel() +
                                         " not unpacked: it inflates past its declared size "
                                         "of 10 bytes");
        expectRoad(road);
        EXPECT_FALSE(fs::exists(dataFolder / name));
    }
}

TEST_F(ArchiveBounds, EntriesThatShareTheirDataOrLieOutsideTheArchiveAreRefusedBeforeAnyIsWritten) {
    SKIP_WITHOUT_DISPLAY();
    const std::string shared = resource("level.bin");
    const std::string outside = resource("outside.bin");
    // Six entries over the same 8 MiB (inflated): the first fits, the second already does not.
    const std::vector<std::pair<std::vector<std::string>, std::string>> faults{
        {{"overlapping", shared, "8388608", "6"}, shared + ".1"}, {{"outside", outside}, outside}};
    int release = 0;
    for (const Road& road : roads) {
        for (const auto& [change, refused] : faults) {
            SCOPED_TRACE(std::string(road.name) + " " + change.front());
            serveRoad(road);
            const std::string archive = publishCrafted("1." + std::to_string(release++), change);

            expectRefused(runLauncher(),
                          "unzip: entry '" + refused + "' of " + archiveLabel() +
                              " not unpacked: its data overlaps other entries' or lies outside "
                              "the archive");
            expectRoad(road);
            EXPECT_FALSE(fs::exists(dataFolder / gameBundleName())) << "nothing is written";
            EXPECT_FALSE(
                lastRunMentions("entry-wise install of " + server->url(archive) + ": fetching"))
                << "nothing is planned";
        }
    }
}

// 100,000 empty files: what is kept for each entry stays within its allowance of 1 KiB. (Twice
// as many take about a minute a run on a busy machine, and pass just the same.)
class ManyEntries : public ArchiveBounds, public testing::WithParamInterface<Road> {};

TEST_P(ManyEntries, InstallInBoundedMemory) {
    SKIP_WITHOUT_DISPLAY();
    constexpr long entries = 100000;
    const long plainPeak = installPlain(GetParam(), "1.0");
    publishCrafted("1.1", {"many", resource("many"), std::to_string(entries)});

    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(fs::exists(dataFolder / resource("many/099/999")));
    expectPeakWithinAllowance(result.peakResidentKiB, plainPeak, entries);
}

INSTANTIATE_TEST_SUITE_P(BothRoads, ManyEntries, testing::ValuesIn(roads),
                         [](const testing::TestParamInfo<Road>& road) {
                             return road.param.ranges ? "EntryWise" : "WholeArchive";
                         });

TEST_F(ArchiveBounds, AnOversizedCentralDirectoryIsRefusedBeforeItIsRead) {
    SKIP_WITHOUT_DISPLAY();
    // 2,000 entries whose comments make a central directory of 120 MB.
    constexpr long entries = 2000;
    int release = 0;
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        const long plainPeak = installPlain(road, "1." + std::to_string(release++));
        const std::string archive =
            publishCrafted("1." + std::to_string(release++),
                           {"commented", resource("commented"), std::to_string(entries), "60000"});

        const ChildResult result = runLauncher();
        expectRefused(result, "Archive refused, its central directory is larger than 33554432 "
                              "bytes: " +
                                  (road.ranges ? server->url(archive) : archiveLabel()));
        expectRoad(road);
        expectPeakWithinAllowance(result.peakResidentKiB, plainPeak, entries + 10);
        EXPECT_FALSE(fs::exists(dataFolder / resource("commented")));
    }
}

TEST_F(ArchiveBounds, AReleaseIndexLargerThanItsEntriesCanExplainIsRefusedUnread) {
    SKIP_WITHOUT_DISPLAY();
    serveRoad(roads[0]);
    announceSigned("1.0", publishWithAssets("1.0"), 1);
    ChildResult result = runLauncher();
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_EQ(gameStarts(++gamesStarted).size(), gamesStarted);
    started.stopAll();
    const long plainPeak = result.peakResidentKiB;

    // The update's index swapped on the server for 60 MiB of well-formed lines, which pack into
    // a small archive.
    const std::string archive = publishWithAssets("2.0", {7});
    announceSigned("2.0", archive, 2);
    craft(archive, {"index", std::to_string(60 << 20)});
    const std::size_t indexBytes = (60 << 20) / 74 * 74;

    const ChildResult listing =
        runChild("/usr/bin/unzip", {"-Z1", (releases / archive.substr(1)).string()});
    const auto entries =
        std::count(listing.standardOutput.begin(), listing.standardOutput.end(), '\n');

    result = runLauncher();
    expectRefused(result,
                  "Archive refused, its ReleaseIndex.sha256 of " + std::to_string(indexBytes) +
                      " bytes is larger than its " + std::to_string(entries - 1) +
                      " other entries can explain: " + server->url(archive),
                  "");
    EXPECT_FALSE(lastRunMentions("differs from the manifest's")) << "refused before it is read";
    expectPeakWithinAllowance(result.peakResidentKiB, plainPeak, assetCount + 10);
}
