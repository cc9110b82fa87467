// Archives that claim one thing and hold another, end to end on both install roads. Each is
// crafted from a release that launcher-publish made.
#include "tests/e2e/entry_wise_fixture.h"

namespace fs = std::filesystem;

namespace {

constexpr char hostileArchives[] = LAUNCHER_SOURCE_DIR "/tests/e2e/hostile_archives.py";

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
        EXPECT_TRUE(readGameStarts(gameRecord).empty()) << "no game is started";
        EXPECT_FALSE(partialsLeft());
    }
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
