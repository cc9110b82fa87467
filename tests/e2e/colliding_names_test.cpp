// Entries that are two files on Linux but one on a Mac's disk, which ignores letter case and
// Unicode normalization: the same name twice, Level.bin and level.bin, "café.txt" composed and
// decomposed, and folders spelt two ways. Archives made by launcher-publish, the extra entries
// added with Python's zipfile, served by nginx with and without ranges.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

// Appends entries (each holding its own name) to an archive; zipfile writes a name twice when
// asked, with only a warning.
constexpr const char* appendEntries = R"(
import sys, warnings, zipfile
warnings.simplefilter("ignore")
with zipfile.ZipFile(sys.argv[1], "a") as archive:
    for name in sys.argv[2:]:
        archive.writestr(name, "bytes of " + name)
)";

const std::string oneName = "differ only in letter case or Unicode normalization, and are one "
                            "name on a disk that ignores both, as a Mac's does";

struct Collision {
    std::string what;
    std::string first;
    std::string second;
    std::string reason;
};

class CollidingNames : public AcceptanceTest {
  protected:
    // The sample game at version with the two entries added after everything pack wrote.
    std::string publishWith(const std::string& version, const Collision& collision) {
        const std::string archive = publishGame(version);
        const ChildResult added = runChild(
            "/usr/bin/python3", {"-c", appendEntries, (releases / archive.substr(1)).string(),
                                 collision.first, collision.second});
        EXPECT_EQ(added.exitStatus, 0) << added.standardError;
        return archive;
    }

    std::vector<Collision> collisions() const {
        const std::string resources = gameBundleName() + "/Contents/Resources/";
        return {
            {"the same name twice", resources + "Level.bin", resources + "Level.bin",
             "the same name twice"},
            {"letter case", resources + "Level.bin", resources + "level.bin",
             "their names " + oneName},
            {"normalization", resources + "caf\xC3\xA9.txt", resources + "cafe\xCC\x81.txt",
             "their names " + oneName},
            {"folders", resources + "Maps/one.bin", resources + "maps/two.bin",
             "'" + resources + "Maps' and '" + resources + "maps' " + oneName},
        };
    }
};

} // namespace

TEST_F(CollidingNames, AreRefusedOnBothRoadsBeforeAnythingIsUnpacked) {
    SKIP_WITHOUT_DISPLAY();
    const std::string archivePath = dataFolder.string() + "/" + displayName + ".zip";
    int release = 0;
    for (const bool ranges : {true, false}) {
        serve(ranges ? NginxServer::Options{}
                     : NginxServer::Options{.extraDirectives = "max_ranges 0;"});
        for (const Collision& collision : collisions()) {
            SCOPED_TRACE(collision.what + (ranges ? ", entry by entry" : ", whole archive"));
            const std::string version = "1." + std::to_string(release++);
            publishManifest(version, publishWith(version, collision), "", "1.0");
            configure("1.0", "/LatestVersion.ini");

            const ChildResult result = runLauncher();
            EXPECT_EQ(result.exitStatus, 1) << result.standardError;
            EXPECT_TRUE(lastRunHasInOrder("unzip: entries '" + collision.first + "' and '" +
                                              collision.second + "' of " + archivePath +
                                              " not unpacked: " + collision.reason,
                                          "failed to unzip file"));
            EXPECT_EQ(lastRunMentions("fetching the whole archive"), !ranges);
            EXPECT_FALSE(fs::exists(dataFolder / gameBundleName())) << "nothing was unpacked";
            EXPECT_FALSE(fs::exists(dataFolder / "CurrentVersion.ini"));
            EXPECT_TRUE(readGameStarts(gameRecord).empty());
        }
    }
}

TEST_F(CollidingNames, AnUpdateThatCollidesLeavesTheInstalledFilesAlone) {
    SKIP_WITHOUT_DISPLAY();
    // Whole archives: the road that used to let the later entry replace the earlier one.
    serve({.extraDirectives = "max_ranges 0;"});
    const std::string resources = gameBundleName() + "/Contents/Resources/";
    publishManifest("1.0",
                    publishWith("1.0", {"", resources + "Level.bin", resources + "Maps/one.bin"}),
                    "", "1.0");
    configure("1.0", "/LatestVersion.ini");
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    started.stopAll();

    publishManifest("1.1", publishWith("1.1", collisions()[0]), "", "1.0");
    EXPECT_EQ(runLauncher().exitStatus, 1);
    EXPECT_TRUE(lastRunHas("failed to unzip file"));
    EXPECT_EQ(readFile(dataFolder / (resources + "Level.bin")),
              "bytes of " + resources + "Level.bin");
    EXPECT_NE(
        readFile(dataFolder / gameBundleName() / "Contents" / "Info.plist").find("<string>1.0<"),
        std::string::npos);
    EXPECT_EQ(readGameStarts(gameRecord).size(), 1u) << "no game is started";
}
