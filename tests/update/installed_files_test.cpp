// The launcher's record of installed files and the removal of what a release drops: the record
// read back as written and refused when it is anything else, and the removal that touches only
// recorded files still as installed, and only folders that it empties.
#include "platform/file_descriptor.h"
#include "update/stage/dropped_files.h"
#include "update/stage/installed_files.h"
#include "update/unpack/launcher_records.h"

#include "tests/support/temp_folder.h"
#include "tests/update/download_test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class InstalledFilesTest : public LoggedTest {
  protected:
    TempFolder data;
    Descriptor folder{open(data.str().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};

    InstalledFile install(const std::string& path, const std::string& contents) {
        fs::create_directories((data / path).parent_path());
        writeFile(data / path, contents);
        return *describeInstalledFile(folder.fd, path, sha256Label("ab"));
    }
    void writeRecord(const std::string& text) { writeFile(data / installedFilesName, text); }
};

TEST_F(InstalledFilesTest, TheRecordReadsBackAsWrittenWhateverThePathsHold) {
    InstalledFiles files;
    for (const std::string& path :
         {std::string("Game.app/Contents/MacOS/Game"), std::string("odd/tab\there"),
          std::string("odd/line\nend%25"), std::string("odd/cr\rand%")}) {
        files[path] = install(path, "bytes of " + path);
    }
    fs::create_symlink("Game", data / "Game.app/Contents/MacOS/Alias");
    files["Game.app/Contents/MacOS/Alias"] =
        *describeInstalledFile(folder.fd, "Game.app/Contents/MacOS/Alias", crc32Label(0x1234abcd));
    ASSERT_TRUE(writeInstalledFiles(folder.fd, files));
    const auto read = readInstalledFiles(folder.fd);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), files.size());
    for (const auto& [path, file] : files) {
        const InstalledFile& back = read->at(path);
        EXPECT_EQ(back.size, file.size);
        EXPECT_EQ(back.modifiedNs, file.modifiedNs);
        EXPECT_EQ(back.inode, file.inode);
        EXPECT_EQ(back.mode, file.mode);
        EXPECT_EQ(back.hash, file.hash);
    }
    EXPECT_TRUE(S_ISLNK(read->at("Game.app/Contents/MacOS/Alias").mode));
    EXPECT_EQ(read->at("Game.app/Contents/MacOS/Alias").hash, "crc32:1234abcd");
    EXPECT_FALSE(fs::exists(data / installedFilesPartialName));
}

TEST_F(InstalledFilesTest, AnythingButAWholeRecordIsNoRecord) {
    InstalledFiles files;
    files["a/b"] = install("a/b", "b");
    files["c"] = install("c", "c");
    ASSERT_TRUE(writeInstalledFiles(folder.fd, files));
    const std::string whole = readFile(data / installedFilesName);
    // Cut anywhere short of its end, it is refused rather than read as fewer files.
    for (std::size_t length = 0; length < whole.size(); ++length) {
        writeRecord(whole.substr(0, length));
        EXPECT_FALSE(readInstalledFiles(folder.fd)) << "cut at " << length;
    }
    const std::string header = "launcher-installed-files 1\n";
    const std::string noFile = "line 2: it does not describe an installed file";
    // Each refused with one line saying which line and why.
    const std::vector<std::pair<std::string, std::string>> records{
        {header + "a\t1\t2\t3\t100644\tmd5:00\nend\n", noFile},
        {header + "a\tx\t2\t3\t100644\tsha256:0\nend\n", noFile},
        {header + "../up\t1\t2\t3\t100644\tsha256:0\nend\n", noFile},
        {header + "a//b\t1\t2\t3\t100644\tsha256:0\nend\n", noFile},
        {header + "a\t1\t2\t3\t100644\nend\n", noFile},
        {header + "a\t1\t2\t3\t100944\tsha256:0\nend\n", noFile},
        {header + "a%zz\t1\t2\t3\t1\tsha256:0\nend\n", "line 2: a field holds a malformed escape"},
        {header + "end\nend\n", "line 2: \"end\" is not the last line"},
        {header + "a\t1\t2\t3\t100644\tsha256:0\n", "it is cut short: no \"end\" line ends it"},
        {"launcher-installed-files 2\nend\n", "line 1: it is not \"launcher-installed-files 1\""}};
    for (const auto& [text, why] : records) {
        writeRecord(text);
        EXPECT_FALSE(readInstalledFiles(folder.fd)) << text;
        EXPECT_TRUE(
            logged("The record of installed files .launcher-installed-files cannot be read (" +
                   why + "): nothing is removed and every installed file is hashed"))
            << text;
    }
    fs::remove(data / installedFilesName);
    fs::create_symlink(data / "c", data / installedFilesName);
    EXPECT_FALSE(readInstalledFiles(folder.fd)) << "a link is never followed";
    // A pipe standing there would hold the run up for ever if it were opened to be read.
    fs::remove(data / installedFilesName);
    ASSERT_EQ(mkfifo((data / installedFilesName).c_str(), 0600), 0);
    EXPECT_FALSE(readInstalledFiles(folder.fd));
    EXPECT_TRUE(logged("The record of installed files .launcher-installed-files cannot be read (it "
                       "is not a regular file): nothing is removed and every installed file is "
                       "hashed"));
    // No record at all is an install made before the record: nothing to say.
    fs::remove(data / installedFilesName);
    const std::string before = log();
    EXPECT_FALSE(readInstalledFiles(folder.fd));
    EXPECT_EQ(log(), before);
}

TEST_F(InstalledFilesTest, AFileIsAsInstalledUntilItsSizeTimeOrInodeChange) {
    const InstalledFile file = install("Game.app/data.bin", "original");
    EXPECT_TRUE(stillAsInstalled(folder.fd, file));
    InstalledFile recorded = file;
    recorded.modifiedNs += 1;
    EXPECT_FALSE(stillAsInstalled(folder.fd, recorded));
    writeFile(data / "Game.app/data.bin.new", "original");
    fs::rename(data / "Game.app/data.bin.new", data / "Game.app/data.bin");
    const struct timespec times[2] = {{file.modifiedNs / 1000000000, file.modifiedNs % 1000000000},
                                      {file.modifiedNs / 1000000000, file.modifiedNs % 1000000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (data / "Game.app/data.bin").c_str(), times, 0), 0);
    EXPECT_FALSE(stillAsInstalled(folder.fd, file)) << "replaced by hand: another inode";
}

TEST_F(InstalledFilesTest, OnlyRecordedFilesStillAsInstalledGoAndOnlyFoldersTheyEmpty) {
    InstalledFiles recorded;
    for (const std::string& path :
         {"Game.app/Contents/Old/old.dat", "Game.app/Contents/Old/Deeper/old2.dat",
          "Game.app/Contents/Kept/gone.dat", "Game.app/Contents/Edited/edited.dat",
          "Game.app/Contents/MacOS/Game", "Game.app/Contents/Shared/dropped.dat", "Extra/x.dat"}) {
        recorded[path] = install(path, "installed " + std::string(path));
    }
    // The player's and the game's files, and a recorded file the player changed since.
    writeFile(data / "Game.app/Contents/Kept/mod.dat", "a mod");
    writeFile(data / "save.dat", "a save");
    writeFile(data / "Game.app/Contents/Edited/edited.dat", "changed by hand");
    ReleasePaths release;
    addReleaseFile(release, "Game.app/Contents/MacOS/Game");
    addReleaseFolder(release, "Game.app/Contents/Shared");
    const auto dropped = droppedFiles(recorded, release);
    EXPECT_EQ(dropped.size(), 6U);
    EXPECT_EQ(removeDroppedFiles(folder.fd, dropped, release), 5U);

    EXPECT_FALSE(fs::exists(data / "Game.app/Contents/Old")) << "emptied, with its sub-folder";
    EXPECT_FALSE(fs::exists(data / "Game.app/Contents/Kept/gone.dat"));
    EXPECT_EQ(readFile(data / "Game.app/Contents/Kept/mod.dat"), "a mod");
    EXPECT_EQ(readFile(data / "Game.app/Contents/Edited/edited.dat"), "changed by hand");
    EXPECT_EQ(readFile(data / "save.dat"), "a save");
    EXPECT_TRUE(fs::exists(data / "Game.app/Contents/MacOS/Game"));
    EXPECT_TRUE(fs::is_directory(data / "Game.app/Contents/Shared")) << "a folder of the release";
    EXPECT_FALSE(fs::exists(data / "Extra"));
    EXPECT_TRUE(fs::is_directory(data.path())) << "never the data folder";
    // Done again (a commit finished after a kill): nothing more goes.
    EXPECT_EQ(removeDroppedFiles(folder.fd, dropped, release), 0U);
    EXPECT_EQ(readFile(data / "save.dat"), "a save");
}

TEST_F(InstalledFilesTest, ADroppedPathReachedThroughALinkIsLeftAlone) {
    InstalledFiles recorded;
    recorded["Game.app/Res/a.dat"] = install("Game.app/Res/a.dat", "a");
    // The very file recorded, same inode and time, now reached through a link out of the game.
    TempFolder elsewhere;
    fs::rename(data / "Game.app/Res", elsewhere / "Res");
    fs::create_directory_symlink(elsewhere / "Res", data / "Game.app/Res");
    ReleasePaths release;
    addReleaseFile(release, "Game.app/Info.plist");
    EXPECT_EQ(removeDroppedFiles(folder.fd, droppedFiles(recorded, release), release), 0U);
    EXPECT_TRUE(fs::exists(elsewhere / "Res/a.dat"));
}

} // namespace

namespace {

TEST(StagingRecordNames, NoArchiveMayTakeTheUpdatesRecordsWhateverTheirCase) {
    for (const std::string name :
         {".launcher-staging", ".LAUNCHER-STAGING", ".launcher-commit", ".Launcher-Commit.partial",
          ".launcher-installed-files", ".launcher-installed-files.PARTIAL",
          ".launcher-installed-files.Unsynced"}) {
        EXPECT_TRUE(isLauncherRecordName(name)) << name;
    }
    EXPECT_FALSE(isLauncherRecordName(".launcher-staging-not"));
    EXPECT_FALSE(isLauncherRecordName("launcher-commit"));
}

} // namespace
