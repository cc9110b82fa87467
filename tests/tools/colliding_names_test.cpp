// launcher-publish refuses what the launcher would refuse as one file on a player's disk: pack
// does not make such an archive, and lint finds the names in one made otherwise.
#include "tests/support/temp_folder.h"
#include "tests/tools/publish_tool.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const std::string oneName = "differ only in letter case or Unicode normalization, and are one "
                            "name on a disk that ignores both, as a Mac's does";

class CollidingNamesTool : public testing::Test {
  protected:
    // Game.app with its executable and the given files under Contents/Resources/.
    fs::path makeBundle(const std::string& name, const std::vector<std::string>& resources) {
        const fs::path bundle = folder / name / "Game.app";
        writeFile(bundle / "Contents" / "MacOS" / "Game", "#!/bin/sh\nexit 0\n");
        chmod((bundle / "Contents" / "MacOS" / "Game").c_str(), 0755);
        for (const std::string& resource : resources) {
            writeFile(bundle / "Contents" / "Resources" / resource, resource);
        }
        return bundle;
    }

    TempFolder folder;
};

} // namespace

TEST_F(CollidingNamesTool, PackRefusesNamesThatAreOneFileOnAMac) {
    const std::string resources = "Game.app/Contents/Resources/";
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> cases{
        {"case",
         {"Level.bin", "level.bin"},
         "entries '" + resources + "Level.bin' and '" + resources +
             "level.bin' collide: their names " + oneName},
        {"normalization",
         {"caf\xC3\xA9.txt", "cafe\xCC\x81.txt"},
         "entries '" + resources + "cafe\xCC\x81.txt' and '" + resources +
             "caf\xC3\xA9.txt' collide: their names " + oneName},
        {"folders",
         {"Maps/one.bin", "maps/two.bin"},
         "entries '" + resources + "Maps/' and '" + resources + "maps/' collide: their names " +
             oneName},
    };
    for (const auto& [what, files, message] : cases) {
        SCOPED_TRACE(what);
        const fs::path archive = folder / (what + ".zip");
        const ChildResult result =
            publish({"pack", makeBundle(what, files).string(), "--output", archive.string()});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_NE(result.standardError.find(message), std::string::npos) << result.standardError;
        EXPECT_NE(result.standardError.find("the launcher refuses such an archive"),
                  std::string::npos);
        EXPECT_FALSE(fs::exists(archive));
    }
    // Names that only look alike stay apart and pack.
    const ChildResult result = publish(
        {"pack", makeBundle("apart", {"caf\xC3\xA9.txt", "caf\xC3\xA8.txt", "cafe.txt"}).string(),
         "--output", (folder / "apart.zip").string()});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
}

TEST_F(CollidingNamesTool, LintReportsEveryCollidingPairOfAnArchive) {
    const fs::path archive = folder / "game.zip";
    ASSERT_EQ(publish({"pack", makeBundle("game", {"Level.bin", "caf\xC3\xA9.txt"}).string(),
                       "--output", archive.string()})
                  .exitStatus,
              0);
    ChildResult result = publish({"lint", archive.string()});
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput << result.standardError;
    EXPECT_NE(result.standardOutput.find("the launcher unpacks every entry to a file of its own"),
              std::string::npos);

    // What another tool adds: the same name again, another case, the other normalization.
    const std::string resources = "Game.app/Contents/Resources/";
    const ChildResult added = runChild(
        "/usr/bin/python3", {"-c",
                             "import sys, warnings, zipfile\nwarnings.simplefilter('ignore')\n"
                             "with zipfile.ZipFile(sys.argv[1], 'a') as a:\n"
                             "    [a.writestr(n, n) for n in sys.argv[2:]]\n",
                             archive.string(), resources + "Level.bin", resources + "LEVEL.BIN",
                             resources + "cafe\xCC\x81.txt"});
    ASSERT_EQ(added.exitStatus, 0) << added.standardError;
    result = publish({"lint", "--quiet", archive.string()});
    EXPECT_EQ(result.exitStatus, 1);
    const std::string& out = result.standardOutput;
    EXPECT_NE(out.find(archive.string() + ": entries '" + resources + "Level.bin' and '" +
                       resources + "Level.bin' collide: the same name twice"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("entries '" + resources + "Level.bin' and '" + resources +
                       "LEVEL.BIN' collide: their names " + oneName),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("entries '" + resources + "caf\xC3\xA9.txt' and '" + resources +
                       "cafe\xCC\x81.txt' collide"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("problem(s)"), std::string::npos) << "--quiet prints only the findings";
}
