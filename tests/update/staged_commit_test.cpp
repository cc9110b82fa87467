// The commit of a staged release: put in place whole, finished the same way whatever step a
// killed run reached, and dropped (with the old version forgotten) when it cannot be finished.
#include "update/stage/staged_commit.h"
#include "update/stage/staging_area.h"
#include "update/unpack/launcher_records.h"

#include "tests/update/download_test_support.h"

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path bundle = "Game.app/Contents";

class StagedCommitTest : public LoggedTest {
  protected:
    TempFolder data;
    Descriptor folder{open(data.str().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    CommitJournal journal;

    fs::path staged(const fs::path& path) const { return data / stagingFolderName / "tree" / path; }
    void put(const fs::path& path, const std::string& contents) {
        fs::create_directories(path.parent_path());
        writeFile(path, contents);
    }

    // 1.0 installed and recorded; 1.1 staged: MacOS/Game and a.dat changed, b.dat the same,
    // New/n.dat added, old.dat dropped. A save beside the bundle and a mod inside it.
    void SetUp() override {
        LoggedTest::SetUp();
        put(data / bundle / "MacOS/Game", "game 1.0");
        put(data / bundle / "Resources/a.dat", "a 1.0");
        put(data / bundle / "Resources/b.dat", "b");
        put(data / bundle / "Resources/old.dat", "old 1.0");
        put(data / bundle / "Resources/mod.dat", "the player's mod");
        put(data / "save.dat", "the player's save");
        writeFile(data / "CurrentVersion.ini", "ApplicationVersion=1.0\n");
        InstalledFiles installed;
        for (const std::string path :
             {"MacOS/Game", "Resources/a.dat", "Resources/b.dat", "Resources/old.dat"}) {
            const std::string full = (bundle / path).string();
            installed[full] = *describeInstalledFile(folder.fd, full, sha256Label("1.0"));
        }
        ASSERT_TRUE(writeInstalledFiles(folder.fd, installed));
        ASSERT_TRUE(openStagingTree(folder.fd, "release 1.1").valid());
        put(staged(bundle / "MacOS/Game"), "game 1.1");
        put(staged(bundle / "Resources/a.dat"), "a 1.1");
        put(staged(bundle / "Resources/New/n.dat"), "n 1.1");
        fs::permissions(staged(bundle / "MacOS/Game"), fs::perms(0755));
        for (const std::string path :
             {"Game.app", "Game.app/Contents", "Game.app/Contents/MacOS",
              "Game.app/Contents/Resources", "Game.app/Contents/Resources/New"}) {
            journal.folders.push_back(JournalFolder{path, 0755, 1700000000});
        }
        journal.files = {{(bundle / "MacOS/Game").string(), sha256Label("g"), true},
                         {(bundle / "Resources/a.dat").string(), sha256Label("a"), true},
                         {(bundle / "Resources/b.dat").string(), sha256Label("b"), false},
                         {(bundle / "Resources/New/n.dat").string(), crc32Label(7), true}};
        journal.removals = {installed.at((bundle / "Resources/old.dat").string())};
        journal.versionText = "ApplicationVersion=1.1\nwith\ttab\n";
    }

    // The data folder as SetUp leaves it, for the next case of a table.
    void startAfresh() {
        TearDown();
        fs::remove_all(data.path());
        fs::create_directories(data.path());
        folder = Descriptor(open(data.str().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        journal = CommitJournal{};
        SetUp();
    }

    void expectWholeNewRelease() {
        EXPECT_EQ(readFile(data / bundle / "MacOS/Game"), "game 1.1");
        EXPECT_EQ(readFile(data / bundle / "Resources/a.dat"), "a 1.1");
        EXPECT_EQ(readFile(data / bundle / "Resources/b.dat"), "b");
        EXPECT_EQ(readFile(data / bundle / "Resources/New/n.dat"), "n 1.1");
        EXPECT_FALSE(fs::exists(data / bundle / "Resources/old.dat"));
        EXPECT_EQ(readFile(data / bundle / "Resources/mod.dat"), "the player's mod");
        EXPECT_EQ(readFile(data / "save.dat"), "the player's save");
        EXPECT_FALSE(fs::exists(data / stagingFolderName));
        struct stat status {};
        ASSERT_EQ(stat((data / "Game.app").c_str(), &status), 0);
        EXPECT_EQ(status.st_mtime, 1700000000) << "folder times applied after the moves";
        const auto recorded = readInstalledFiles(folder.fd);
        ASSERT_TRUE(recorded);
        EXPECT_EQ(recorded->size(), 4U);
        EXPECT_EQ(recorded->at((bundle / "Resources/New/n.dat").string()).hash, "crc32:00000007");
        for (const auto& [path, file] : *recorded) {
            EXPECT_TRUE(stillAsInstalled(folder.fd, file)) << path;
        }
    }
};

TEST_F(StagedCommitTest, ACommitPutsTheWholeReleaseInPlaceAndKeepsItsJournalUntilRecorded) {
    ASSERT_TRUE(commitStagedRelease(data.str(), journal, "Game.app"));
    expectWholeNewRelease();
    EXPECT_FALSE(fs::exists(data / "CurrentVersion.ini")) << "recorded by the caller, later";
    EXPECT_TRUE(fs::exists(data / commitJournalName));
    EXPECT_FALSE(fs::exists(data / commitJournalPartialName));
    forgetCommit(data.str());
    EXPECT_FALSE(fs::exists(data / commitJournalName));
}

// A first install (no CurrentVersion.ini the launcher reads) has no game to protect: it is put in
// place with nothing claiming its files (no journal, no record, no version) until the sync that
// comes after the game's start. An update keeps its journal, made durable before the moves.
TEST_F(StagedCommitTest, AFirstInstallIsClaimedOnlyAfterTheSyncThatFollowsTheGamesStart) {
    const fs::path unsynced = data / unsyncedInstalledFilesName;
    struct Case {
        const char* what;
        std::function<void()> change;
        bool firstInstall;
        bool gameStarted;
    };
    const std::vector<Case> cases{
        {"an update", {}, false, true},
        {"an update after a first install cut off before its sync",
         [&] { writeFile(unsynced, "launcher-installed-files 1\nend\n"); }, false, true},
        {"a first install", [this] { fs::remove(data / "CurrentVersion.ini"); }, true, true},
        {"a first install over a record the launcher cannot read",
         [this] {
             fs::remove(data / "CurrentVersion.ini");
             fs::create_directories(data / "CurrentVersion.ini/left");
         },
         true, true},
        {"a first install whose game does not start",
         [this] { fs::remove(data / "CurrentVersion.ini"); }, true, false}};
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.what);
        startAfresh();
        if (testCase.change) {
            testCase.change();
        }
        const std::size_t before = log().size();
        const auto loggedSince = [&](const std::string& text) {
            return log().find(text, before) != std::string::npos;
        };
        ASSERT_TRUE(commitStagedRelease(data.str(), journal, "Game.app"));
        EXPECT_EQ(readFile(data / bundle / "MacOS/Game"), "game 1.1");
        EXPECT_FALSE(fs::exists(data / "CurrentVersion.ini"));
        EXPECT_EQ(fs::exists(data / commitJournalName), !testCase.firstInstall);
        EXPECT_EQ(fs::exists(data / installedFilesName), !testCase.firstInstall);
        EXPECT_EQ(fs::exists(unsynced), testCase.firstInstall);
        EXPECT_EQ(loggedSince("First install put in place in " + data.str() + ": 4 files in "),
                  testCase.firstInstall);
        EXPECT_EQ(loggedSince(" s making the staged files and the journal durable"),
                  !testCase.firstInstall);

        EXPECT_EQ(recordCommittedRelease(data.str(), journal.versionText, testCase.gameStarted),
                  testCase.gameStarted ? 0 : 1);
        expectWholeNewRelease();
        EXPECT_FALSE(fs::exists(unsynced));
        EXPECT_FALSE(fs::exists(data / commitJournalName));
        EXPECT_EQ(loggedSince("First install made durable in " + data.str() + " in "),
                  testCase.firstInstall);
        if (testCase.gameStarted) {
            EXPECT_EQ(readFile(data / "CurrentVersion.ini"), journal.versionText);
        } else {
            EXPECT_FALSE(fs::exists(data / "CurrentVersion.ini"));
        }
    }
}

// A kill after the journal was made durable and after any number of the moves and removals:
// the next start finishes it the same way and records the version the journal names.
TEST_F(StagedCommitTest, AJournalLeftAfterAKillAtAnyStepIsFinishedTheSameWay) {
    const std::vector<std::string> moved = {"MacOS/Game", "Resources/a.dat", "Resources/New/n.dat"};
    for (std::size_t done = 0; done <= moved.size() * 2 + 1; ++done) {
        SCOPED_TRACE("steps done before the kill: " + std::to_string(done));
        startAfresh();
        ASSERT_TRUE(writeCommitJournal(folder.fd, journal));
        if (done > 0) {
            fs::remove(data / "CurrentVersion.ini");
        }
        for (std::size_t step = 0; step < std::min(done, moved.size()); ++step) {
            fs::create_directories((data / bundle / moved[step]).parent_path());
            fs::rename(staged(bundle / moved[step]), data / bundle / moved[step]);
        }
        if (done > moved.size()) {
            fs::remove(data / bundle / "Resources/old.dat");
        }
        if (done > moved.size() + 1) {
            fs::remove_all(data / stagingFolderName);
        }
        finishLeftCommit(data.str());
        expectWholeNewRelease();
        EXPECT_EQ(readFile(data / "CurrentVersion.ini"), journal.versionText);
        EXPECT_FALSE(fs::exists(data / commitJournalName));
        EXPECT_TRUE(
            logged("Finished the update that an earlier run left unfinished in " + data.str()));
    }
}

TEST_F(StagedCommitTest, AJournalThatCannotBeFinishedIsDroppedAndTheVersionForgotten) {
    ASSERT_TRUE(writeCommitJournal(folder.fd, journal));
    const std::string whole = readFile(data / commitJournalName);
    // Which line, and why, is logged.
    const std::size_t half = whole.rfind('\n', whole.size() / 2) + 1;
    const std::vector<std::pair<std::string, std::string>> journals{
        {"", "it is empty"},
        {whole.substr(0, half), "it is cut short: no \"end\" line ends it"},
        {whole.substr(0, whole.size() - 1), "it is cut short: its last line has no line end"},
        {"launcher-commit 1\nmystery\tx\nend\n", "line 2: \"mystery\" is no line of a journal"},
        {"launcher-commit 1\nfile\ta\tcrc32:1\tmaybe\nend\n",
         "line 2: a file needs a path, a hash and \"staged\" or \"installed\""}};
    for (const auto& [text, why] : journals) {
        writeFile(data / commitJournalName, text);
        writeFile(data / "CurrentVersion.ini", "ApplicationVersion=1.0\n");
        finishLeftCommit(data.str());
        EXPECT_TRUE(logged("The update left unfinished in " + data.str() +
                           " cannot be finished: its journal .launcher-commit cannot be read (" +
                           why + "); the release will be installed again"))
            << why;
        EXPECT_FALSE(fs::exists(data / commitJournalName));
        EXPECT_FALSE(fs::exists(data / "CurrentVersion.ini"));
        EXPECT_EQ(readFile(data / bundle / "MacOS/Game"), "game 1.0") << "nothing half done";
    }
    // A staged file lost (neither staged nor in place): the rest cannot be vouched for.
    ASSERT_TRUE(writeCommitJournal(folder.fd, journal));
    fs::remove(staged(bundle / "Resources/New/n.dat"));
    writeFile(data / "CurrentVersion.ini", "ApplicationVersion=1.0\n");
    finishLeftCommit(data.str());
    EXPECT_TRUE(logged("The update left unfinished in " + data.str() +
                       " cannot be finished: the staged file "
                       "Game.app/Contents/Resources/New/n.dat is missing; the release will be "
                       "installed again"));
    EXPECT_FALSE(fs::exists(data / "CurrentVersion.ini"));
    EXPECT_FALSE(fs::exists(data / commitJournalName));
}

// What a publisher's mistake can leave out of a release: nothing is put in place, the staged files
// go, and the installed game and its record stay as they are.
TEST_F(StagedCommitTest, AReleaseWithoutItsApplicationIsRefusedBeforeAnythingIsTouched) {
    struct Case {
        const char* what;
        std::string bundleName;
        std::function<void()> change;
        std::string missing; // empty: the commit goes ahead
    };
    const std::vector<Case> cases{
        {"another bundle's name", "Other.app", {}, "it holds no Other.app"},
        {"an executable without its permission", "Game.app",
         [this] { fs::permissions(staged(bundle / "MacOS/Game"), fs::perms(0644)); },
         "its Game.app/Contents/MacOS/Game is not an executable file"},
        {"Info.plist naming another executable", "Game.app",
         [this] {
             put(staged(bundle / "Info.plist"),
                 "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                 "<key>CFBundleExecutable</key><string>Runner</string></dict></plist>");
             journal.files.push_back({(bundle / "Info.plist").string(), "crc32:1", true});
         },
         "it holds no executable Game.app/Contents/MacOS/Runner"},
        {"the bundle itself an executable file", "Game.app/Contents/MacOS/Game", {}, ""},
        {"the executable kept as installed", "Game.app",
         [this] {
             fs::remove(staged(bundle / "MacOS/Game"));
             fs::permissions(data / bundle / "MacOS/Game", fs::perms(0755));
             journal.files[0].staged = false;
         },
         ""}};
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.what);
        startAfresh();
        if (testCase.change) {
            testCase.change();
        }
        if (testCase.bundleName == "Game.app/Contents/MacOS/Game") {
            // Not a bundle name a release has, but a path the check must take as one file.
            journal.files.push_back({testCase.bundleName, "crc32:2", false});
        }
        const bool committed = commitStagedRelease(data.str(), journal, testCase.bundleName);
        EXPECT_EQ(committed, testCase.missing.empty());
        if (committed) {
            continue;
        }
        EXPECT_TRUE(
            logged("Update refused, the installed game stays as it is: " + testCase.missing));
        EXPECT_EQ(readFile(data / bundle / "MacOS/Game"), "game 1.0");
        EXPECT_EQ(readFile(data / bundle / "Resources/old.dat"), "old 1.0");
        EXPECT_EQ(readFile(data / "CurrentVersion.ini"), "ApplicationVersion=1.0\n");
        EXPECT_FALSE(fs::exists(data / commitJournalName));
        EXPECT_FALSE(fs::exists(data / stagingFolderName));
        EXPECT_EQ(readInstalledFiles(folder.fd)->size(), 4U);
    }
}

TEST_F(StagedCommitTest, StagedFilesOfAnotherReleaseAreDiscardedThoseOfTheSameKept) {
    ASSERT_TRUE(openStagingTree(folder.fd, "release 1.1").valid());
    EXPECT_EQ(readFile(staged(bundle / "Resources/a.dat")), "a 1.1");
    writeFile(staged(bundle / ".unzip-12-3.partial"), "half");
    ASSERT_TRUE(openStagingTree(folder.fd, "release 1.1").valid());
    EXPECT_FALSE(fs::exists(staged(bundle / ".unzip-12-3.partial")));
    ASSERT_TRUE(openStagingTree(folder.fd, "release 1.2").valid());
    EXPECT_FALSE(fs::exists(staged(bundle / "Resources/a.dat")));
    EXPECT_EQ(readFile(data / stagingFolderName / "release"), "release 1.2");
    EXPECT_TRUE(discardStaging(folder.fd));
    EXPECT_FALSE(fs::exists(data / stagingFolderName));
}

} // namespace
