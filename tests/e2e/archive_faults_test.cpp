// Archives that must not install, end to end: names or links that climb out of the data folder,
// and a redirect in place of the archive (the content transfer does not follow redirects).
//
// A server that accepts and then says nothing is given up only after the stall limit of a whole
// minute, which the launcher's settings cannot shorten; the download tests cover it in-process
// with a limit of one second.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/temp_folder.h"

#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

struct ZipClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

// Adds one entry to an archive that launcher-publish made; link makes it a symbolic link whose
// target is data.
void addEntry(const fs::path& archivePath, const std::string& name, const std::string& data,
              bool link) {
    int error = 0;
    std::unique_ptr<zip_t, ZipClose> archive(zip_open(archivePath.c_str(), 0, &error));
    if (!archive) {
        throw std::runtime_error("cannot open " + archivePath.string());
    }
    zip_source_t* source = zip_source_buffer(archive.get(), data.data(), data.size(), 0);
    const zip_int64_t index = zip_file_add(archive.get(), name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        throw std::runtime_error("cannot add " + name);
    }
    const zip_uint32_t mode = (link ? S_IFLNK | 0777 : S_IFREG | 0644);
    zip_file_set_external_attributes(archive.get(), static_cast<zip_uint64_t>(index), 0,
                                     ZIP_OPSYS_UNIX, mode << 16);
    if (zip_close(archive.get()) != 0) {
        throw std::runtime_error("cannot write " + archivePath.string());
    }
    archive.release(); // zip_close has freed it
}

class ArchiveFaults : public AcceptanceTest {
  protected:
    void SetUp() override {
        AcceptanceTest::SetUp();
        installed = publishManifest("1.0", publishGame("1.0"), "", "1.0");
        configure("1.0", "/LatestVersion.ini");
    }

    void install() {
        ASSERT_EQ(runLauncher().exitStatus, 0);
        ASSERT_EQ(gameStarts(1).size(), 1u);
        started.stopAll();
    }

    // The earlier game stays whole and recorded: a refused update never reached its commit.
    void expectEarlierInstallationKept() const {
        EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), installed);
        EXPECT_TRUE(
            fs::exists(dataFolder / gameBundleName() / "Contents" / "MacOS" / "sample_game"));
        EXPECT_EQ(readGameStarts(gameRecord).size(), 1u) << "no game is started";
    }

    std::string installed;
};

} // namespace

TEST_F(ArchiveFaults, EntriesThatClimbOutOfTheDataFolderAreRefusedBeforeAnythingIsWritten) {
    SKIP_WITHOUT_DISPLAY();
    install();
    const std::string archivePath = dataFolder.string() + "/" + displayName + ".zip";
    const std::string link = gameBundleName() + "/Contents/Resources/escape";
    const std::vector<std::tuple<std::string, std::string, bool, std::string>> faults{
        {"../../escaped.txt", "outside", false, "its name leads outside the destination"},
        {"/tmp/escaped.txt", "outside", false, "its name leads outside the destination"},
        {link, "../../../../../../escaped", true,
         "its link target '../../../../../../escaped' leads outside the destination"}};
    int release = 1;
    for (const auto& [name, data, isLink, problem] : faults) {
        const std::string version = "1." + std::to_string(release++);
        const std::string archive = publishGame(version);
        addEntry(releases / archive.substr(1), name, data, isLink);
        publishManifest(version, archive, "", "1.0");

        const ChildResult result = runLauncher();
        EXPECT_EQ(result.exitStatus, 1) << name;
        EXPECT_TRUE(lastRunHasInOrder("unzip: entry '" + name + "' of " + archivePath +
                                          " not unpacked: " + problem,
                                      "failed to unzip file"))
            << name;
        EXPECT_FALSE(fs::exists(sandbox.root / "data" / "escaped.txt"));
        EXPECT_FALSE(fs::exists(sandbox.root / "escaped.txt"));
        EXPECT_FALSE(fs::exists("/tmp/escaped.txt"));
        EXPECT_FALSE(fs::exists(dataFolder / link));
        expectEarlierInstallationKept();
    }
}

TEST_F(ArchiveFaults, ARedirectInPlaceOfTheArchiveIsNotFollowed) {
    SKIP_WITHOUT_DISPLAY();
    serve({.extraDirectives = "        location = /moved/LatestVersion.ini { return 301 "
                              "/LatestVersion.ini; }\n"
                              "        location = /moved/game.zip { return 302 /game-1.0.zip; }"});
    const std::string manifest = publishManifest("1.0", "/moved/game.zip", "", "1.0");
    configure("1.0", "/moved/LatestVersion.ini");

    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(requestsFor("GET /moved/LatestVersion.ini 301"), 2);
    EXPECT_EQ(requestsFor("GET /LatestVersion.ini 200"), 2) << "the manifest follows redirects";
    // Once as a range request, once on the whole-archive road it leads to.
    EXPECT_EQ(requestsFor("GET /moved/game.zip 302 \"libcurl-agent/1.0\""), 2);
    EXPECT_EQ(requestsFor("GET /game-1.0.zip"), 0) << "the archive transfer does not";
    EXPECT_TRUE(lastRunHas("failed to unzip file"));
    EXPECT_FALSE(fs::exists(dataFolder / "CurrentVersion.ini"));
    EXPECT_TRUE(readGameStarts(gameRecord).empty());
}

TEST_F(ArchiveFaults, AnArchiveCarryingTheLaunchersRecordsIsRefusedAndLaterRunsStillWork) {
    SKIP_WITHOUT_DISPLAY();
    install();
    const std::string archivePath = dataFolder.string() + "/" + displayName + ".zip";
    const std::vector<std::pair<std::string, bool>> records{{"out.log", true},
                                                            {"CurrentVersion.ini", false}};
    int release = 1;
    for (const auto& [name, isLink] : records) {
        SCOPED_TRACE(name);
        const std::string version = "1." + std::to_string(release++);
        const std::string archive = publishGame(version);
        addEntry(releases / archive.substr(1), name, isLink ? "." : "[Version]\n", isLink);
        publishManifest(version, archive, "", "1.0");

        EXPECT_EQ(runLauncher().exitStatus, 1);
        EXPECT_TRUE(lastRunHasInOrder("unzip: entry '" + name + "' of " + archivePath +
                                          " not unpacked: " + name +
                                          " is a record the launcher keeps in the destination",
                                      "failed to unzip file"));
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dataFolder / "out.log")));
        EXPECT_EQ(readGameStarts(gameRecord).size(), 1u) << "no game is started";
    }

    // The run after the refused one installs a sound release as usual.
    publishManifest("1.9", publishGame("1.9"), "", "1.0");
    EXPECT_EQ(runLauncher().exitStatus, 0);
    const auto starts = gameStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].version, "1.9");
}

TEST_F(ArchiveFaults, ALogThatAnEarlierInstallTurnedIntoALinkIsReplaced) {
    SKIP_WITHOUT_DISPLAY();
    install();
    // What an archive could leave before such entries were refused: every later run, uninstall
    // mode included, ended with 1 before its first log line.
    fs::remove(dataFolder / "out.log");
    fs::create_directory_symlink(".", dataFolder / "out.log");

    EXPECT_EQ(runLauncher().exitStatus, 0);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dataFolder / "out.log")));
    EXPECT_TRUE(lastRunMentions("setup for logging]"));
    EXPECT_EQ(gameStarts(2).size(), 2u);
    started.stopAll();

    fs::remove(dataFolder / "out.log");
    fs::create_directory_symlink(".", dataFolder / "out.log");
    const ChildResult uninstall = runLauncher({"-u", "-s"});
    EXPECT_EQ(uninstall.exitStatus, 0) << uninstall.standardError;
    EXPECT_FALSE(fs::exists(fs::symlink_status(dataFolder)));
}

TEST_F(ArchiveFaults, AReleaseThatTurnsFilesFoldersAndLinksIntoOneAnotherInstalls) {
    SKIP_WITHOUT_DISPLAY();
    const std::string resources = gameBundleName() + "/Contents/Resources/";
    const std::string first = publishGame("2.0");
    addEntry(releases / first.substr(1), resources + "levels", "one file of levels", false);
    addEntry(releases / first.substr(1), resources + "music/track.txt", "a track", false);
    addEntry(releases / first.substr(1), resources + "current", "music", true);
    publishManifest("2.0", first, "", "1.0");
    install();
    ASSERT_EQ(fs::read_symlink(dataFolder / resources / "current"), "music");

    const std::string second = publishGame("2.1");
    addEntry(releases / second.substr(1), resources + "levels/one.txt", "level one", false);
    addEntry(releases / second.substr(1), resources + "music", "music in one file", false);
    addEntry(releases / second.substr(1), resources + "current/now.txt", "now", false);
    publishManifest("2.1", second, "", "1.0");

    EXPECT_EQ(runLauncher().exitStatus, 0);
    const auto starts = gameStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].version, "2.1");
    EXPECT_EQ(readFile(dataFolder / resources / "levels/one.txt"), "level one");
    EXPECT_EQ(readFile(dataFolder / resources / "music"), "music in one file");
    EXPECT_FALSE(fs::is_symlink(dataFolder / resources / "current"));
    EXPECT_EQ(readFile(dataFolder / resources / "current/now.txt"), "now");
}
