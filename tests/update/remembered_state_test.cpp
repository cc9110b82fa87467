// The plan's use of the record of installed files: a file still as it was installed, with the
// hash now required, is not read again; any other is hashed as before.
#include "update/install_plan.h"
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
