// The plan's use of the record of installed files: a file still as it was installed, with the
// hash now required, is not read again; any other is hashed as before.
#include "update/install_plan.h"
#include "update/run_cutting.h"
#include "update/unpack/zip_extract.h"

#include "tests/update/download_test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class RememberedStateTest : public LoggedTest {
  protected:
    TempFolder scratch;
    fs::path data() const { return scratch / "data"; }
    fs::path archive() const { return scratch / "a.zip"; }

    // Whether a plan over the release fetches its one file, with or without the record.
    bool fetched(const InstalledFiles* recorded) {
        int error = 0;
        const ArchiveHandle opened(zip_open(archive().c_str(), ZIP_RDONLY, &error));
        const auto entries = describeEntries(opened.get(), archive().string());
        const Descriptor root(open(data().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const PlanSources sources{root.fd, -1, recorded};
        const InstallPlan plan =
            planInstall(opened.get(), entriesToPlan(opened.get(), *entries, {}), sources);
        return plan.fetchedEntries > 0;
    }
};

TEST_F(RememberedStateTest, AFileStillAsRecordedIsNotReadAgainAnyOtherIsHashed) {
    fs::create_directories(data());
    writeZip(archive(), {fileEntry("Game.app/a.dat", "release bytes")});
    ASSERT_TRUE(unzipArchive(archive().string(), data().string(), nullptr));
    int error = 0;
    const ArchiveHandle opened(zip_open(archive().c_str(), ZIP_RDONLY, &error));
    const auto entries = describeEntries(opened.get(), archive().string());
    const Descriptor root(open(data().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    InstalledFiles recorded;
    recorded["Game.app/a.dat"] = *describeInstalledFile(
        root.fd, "Game.app/a.dat", entryHashLabel(opened.get(), entries->front(), ""));
    EXPECT_FALSE(fetched(&recorded));
    EXPECT_FALSE(fetched(nullptr));

    // Bytes changed in place, size and time put back: only the record can say it is unchanged,
    // and it does; without the record the file is hashed and fetched again.
    const fs::path file = data() / "Game.app/a.dat";
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    {
        const Descriptor writable(open(file.c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_EQ(pwrite(writable.fd, "X", 1, 0), 1);
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_FALSE(fetched(&recorded)) << "the record vouches for it: not read";
    EXPECT_TRUE(fetched(nullptr)) << "hashed";

    // A record made with another hash (the index's SHA-256 then) does not vouch for it.
    InstalledFiles otherHash = recorded;
    otherHash["Game.app/a.dat"].hash = sha256Label("00");
    EXPECT_TRUE(fetched(&otherHash));
    // Edited by hand: another time, hashed, fetched.
    writeFile(file, "Xelease bytes");
    EXPECT_TRUE(fetched(&recorded));
}

} // namespace

namespace {

// The entry positions of each run.
std::vector<std::vector<std::size_t>> positionsOf(const std::vector<PlannedRun>& runs) {
    std::vector<std::vector<std::size_t>> positions;
    for (const PlannedRun& run : runs) {
        positions.push_back(run.entries);
    }
    return positions;
}

} // namespace

TEST(RunCutting, RunsAreCutAtEntryBoundariesIntoAboutEqualPartsUntilEachConnectionHasOne) {
    using Positions = std::vector<std::vector<std::size_t>>;
    const struct {
        const char* what;
        std::vector<std::uint64_t> spans; // per entry, all fetched unless in gaps
        Positions runs;
        std::size_t connections;
        Positions expected;
    } cases[] = {
        {"one connection keeps the run", {10, 10, 10, 10}, {{0, 1, 2, 3}}, 1, {{0, 1, 2, 3}}},
        {"a first install's run in four", {10, 10, 10, 10}, {{0, 1, 2, 3}}, 4, {{0}, {1}, {2}, {3}}},
        {"equal bytes, not equal counts",
         {40, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10},
         {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
         4,
         {{0}, {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}},
        {"a huge entry is never split", {1000, 1, 1}, {{0, 1, 2}}, 4, {{0}, {1}, {2}}},
        {"more connections than entries", {5, 5}, {{0, 1}}, 8, {{0}, {1}}},
        {"the largest run is cut, the others kept",
         {10, 10, 10, 10, 10, 10},
         {{0}, {2, 3, 4, 5}},
         3,
         {{0}, {2, 3}, {4, 5}}},
        {"enough runs already", {10, 10, 10}, {{0}, {1}, {2}}, 2, {{0}, {1}, {2}}},
        {"runs of one entry stay", {10, 10}, {{0}, {1}}, 4, {{0}, {1}}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        const ZipEntry entry;
        std::vector<PlannedEntry> entries(test.spans.size());
        for (std::size_t at = 0; at < entries.size(); ++at) {
            entries[at].entry = &entry;
            entries[at].span = test.spans[at];
        }
        std::vector<PlannedRun> runs;
        std::uint64_t total = 0;
        for (const auto& positions : test.runs) {
            PlannedRun& run = runs.emplace_back();
            run.entries = positions;
            for (const std::size_t position : positions) {
                run.bytes += test.spans[position];
            }
            total += run.bytes;
        }
        const std::vector<PlannedRun> spread = spreadRuns(runs, entries, test.connections);
        EXPECT_EQ(positionsOf(spread), test.expected);
        // Every byte is still fetched by one run or another.
        EXPECT_EQ(runBytes(spread), total);
    }
}
