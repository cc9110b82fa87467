#include "relocation/app_relocator.h"
#include "tests/relocation/recording_relocation_system.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>

namespace {

const std::string destination = "/Applications/Launcher.app";
const std::string authorizationFailure =
    "ERROR -- Could not copy myself to /Applications with authorization";

std::string relaunchText(int pid, const std::string& quarantine, const std::string& quoted) {
    return "(while /bin/kill -0 " + std::to_string(pid) +
           " >&/dev/null; do /bin/sleep 0.1; done; " + quarantine + "; /usr/bin/open " + quoted +
           ") &";
}

const std::string plainRelaunch =
    "(while /bin/kill -0 4321 >&/dev/null; do /bin/sleep 0.1; done; /usr/bin/xattr -d -r "
    "com.apple.quarantine '/Applications/Launcher.app'; /usr/bin/open "
    "'/Applications/Launcher.app') &";

// `hdiutil info -plist` output with the given images, each a list of dev-entry values.
std::string hdiutilInfo(const std::vector<std::vector<std::string>>& images) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                      "<key>framework</key><string>1</string><key>images</key><array>";
    for (const auto& entries : images) {
        xml += "<dict><key>image-path</key><string>/x.dmg</string>"
               "<key>system-entities</key><array>";
        for (const auto& entry : entries) {
            xml += "<dict><key>dev-entry</key><string>" + entry + "</string></dict>";
        }
        xml += "</array></dict>";
    }
    return xml + "</array></dict></plist>";
}

struct Relocation : ::testing::Test {
    RecordingRelocationSystem system;
    AppRelocator relocator{system};

    void run() { relocator.relocateToApplicationsFolder(); }
    bool copied() const { return system.called("copy " + system.bundle + " -> " + destination); }
};

} // namespace

// --- where the bundle is -----------------------------------------------------------------

TEST_F(Relocation, CopiesAndRelaunchesFromAMountedVolume) {
    run();
    EXPECT_TRUE(copied());
    ASSERT_EQ(system.startedScripts.size(), 1u);
    EXPECT_EQ(system.startedScripts[0], plainRelaunch);
    EXPECT_EQ(system.exits, std::vector<int>{0});
    EXPECT_TRUE(system.logs.empty());
    EXPECT_FALSE(system.called("running applications")); // destination was absent
}

TEST_F(Relocation, OffTheMainThreadItOnlySchedulesItselfAndRunsLaterOnTheMainThread) {
    system.mainThread = false;
    run();
    ASSERT_EQ(system.scheduled.size(), 1u);
    EXPECT_EQ(system.calls, std::vector<std::string>{"schedule"});
    system.mainThread = true;
    system.scheduled[0]();
    EXPECT_TRUE(copied());
}

TEST_F(Relocation, ABundleInAnApplicationsFolderStaysWithoutAWord) {
    for (const std::string bundle :
         {"/Applications/Launcher.app", "/Users/me/Applications/Games/Launcher.app",
          "/Volumes/Disk/Applications/Launcher.app"}) {
        RecordingRelocationSystem quiet;
        quiet.bundle = bundle;
        AppRelocator(quiet).relocateToApplicationsFolder();
        EXPECT_TRUE(quiet.calls.empty()) << bundle;
        EXPECT_TRUE(quiet.logs.empty()) << bundle;
        EXPECT_TRUE(quiet.exits.empty()) << bundle;
    }
}

TEST_F(Relocation, ANestedBundleMovesEvenFromApplicationsAndItsImageIsNotDetached) {
    system.bundle = "/Applications/Outer.app/Contents/Launcher.app";
    system.hdiutilOutput = hdiutilInfo({{"/dev/disk4", "/dev/disk4s1"}});
    run();
    EXPECT_TRUE(system.called("copy " + system.bundle + " -> " + destination));
    EXPECT_EQ(system.startedScripts, std::vector<std::string>{plainRelaunch});
    EXPECT_EQ(system.exits, std::vector<int>{0});
}

TEST_F(Relocation, AProgramOutsideABundleIsNotMoved) {
    system.bundle = "/Volumes/Drift Moor/tools";
    system.existing.insert("/Applications/tools");
    run();
    EXPECT_EQ(system.logs, std::vector<std::string>{
                               "INFO -- Not moving '/Volumes/Drift Moor/tools': it is not an "
                               "application bundle"});
    EXPECT_TRUE(system.calls.empty());
}

TEST_F(Relocation, TheDestinationIsTheLastLocalFolderWithLinksResolved) {
    system.localFolders = {"/Other", "/Applications-link"};
    system.links["/Applications-link"] = "/Applications";
    run();
    EXPECT_TRUE(copied());
}

TEST_F(Relocation, NoLocalApplicationsFolderMeansNoMove) {
    system.localFolders.clear();
    run();
    EXPECT_EQ(system.logs,
              std::vector<std::string>{"ERROR -- No Applications folder to move into"});
    EXPECT_FALSE(copied());
}

TEST_F(Relocation, ADestinationThatIsTheRunningBundleItselfIsLeftAlone) {
    system.existing.insert(destination);
    system.sameAsBundle.insert(destination);
    run();
    EXPECT_FALSE(system.called("file manager trash " + destination));
    EXPECT_FALSE(copied());
    EXPECT_TRUE(system.exits.empty());
}

TEST_F(Relocation, ActivatesOnlyWhenNotActive) {
    run();
    EXPECT_TRUE(system.called("activate"));
    RecordingRelocationSystem activeOne;
    activeOne.active = true;
    AppRelocator(activeOne).relocateToApplicationsFolder();
    EXPECT_FALSE(activeOne.called("activate"));
}

// --- disk images -------------------------------------------------------------------------

TEST_F(Relocation, AMatchingDevEntryIsDetachedFiveSecondsAfterTheRelaunch) {
    system.hdiutilOutput = hdiutilInfo({{"/dev/disk3"}, {"/dev/disk4", "/dev/disk4s1"}});
    run();
    EXPECT_TRUE(system.called("statfs /Volumes/Drift Moor"));
    EXPECT_TRUE(system.called("tool /usr/bin/hdiutil info -plist"));
    EXPECT_EQ(system.readers, std::vector<PropertyListReader>{PropertyListReader::Modern});
    ASSERT_EQ(system.startedScripts.size(), 2u);
    EXPECT_EQ(system.startedScripts[0], plainRelaunch);
    EXPECT_EQ(system.startedScripts[1],
              "(/bin/sleep 5 && /usr/bin/hdiutil detach '/dev/disk4s1') &");
}

TEST_F(Relocation, NoDeviceMeansCopyAndRelaunchWithoutDetach) {
    struct Case {
        const char* name;
        std::function<void(RecordingRelocationSystem&)> set;
    };
    const std::vector<Case> cases = {
        {"statfs fails", [](auto& s) { s.fileSystem.reset(); }},
        {"root file system",
         [](auto& s) {
             s.fileSystem = FileSystemInfo{true, "/dev/disk4s1"};
         }},
        {"hdiutil absent", [](auto& s) { s.hdiutilOutput.reset(); }},
        {"not a property list", [](auto& s) { s.hdiutilOutput = "images: none"; }},
        {"a volume that is no disk image",
         [](auto& s) {
             s.hdiutilOutput = hdiutilInfo({{"/dev/disk3"}, {"/dev/disk5s2"}});
         }},
        {"images of a wrong kind",
         [](auto& s) {
             s.hdiutilOutput = "<plist version=\"1.0\"><dict><key>images</key>"
                               "<string>/dev/disk4s1</string></dict></plist>";
         }},
        {"root is an array",
         [](auto& s) { s.hdiutilOutput = "<plist version=\"1.0\"><array/></plist>"; }},
        {"a wrong kind ends the walk before a later match",
         [](auto& s) {
             s.hdiutilOutput =
                 "<plist version=\"1.0\"><dict><key>images</key><array><string>x</string>"
                 "<dict><key>system-entities</key><array><dict><key>dev-entry</key>"
                 "<string>/dev/disk4s1</string></dict></array></dict></array></dict></plist>";
         }},
        {"an entity without dev-entry ends the walk",
         [](auto& s) {
             s.hdiutilOutput =
                 "<plist version=\"1.0\"><dict><key>images</key><array><dict>"
                 "<key>system-entities</key><array><dict><key>mount-point</key><string>/V"
                 "</string></dict><dict><key>dev-entry</key><string>/dev/disk4s1</string>"
                 "</dict></array></dict></array></dict></plist>";
         }},
    };
    for (const Case& c : cases) {
        RecordingRelocationSystem s;
        c.set(s);
        AppRelocator(s).relocateToApplicationsFolder();
        EXPECT_TRUE(s.called("copy " + s.bundle + " -> " + destination)) << c.name;
        EXPECT_EQ(s.startedScripts, std::vector<std::string>{plainRelaunch}) << c.name;
        EXPECT_EQ(s.exits, std::vector<int>{0}) << c.name;
        EXPECT_TRUE(s.logs.empty()) << c.name;
    }
}

TEST_F(Relocation, ARootFileSystemIsNotAskedAboutDiskImages) {
    system.fileSystem = FileSystemInfo{true, "/dev/disk1s1"};
    run();
    EXPECT_FALSE(system.called("tool /usr/bin/hdiutil info -plist"));
}

TEST_F(Relocation, OldAppKitParsesWithTheOlderReaderAndStripsQuarantineOnlyAtTheTop) {
    system.appKit = 949.9; // rounded down: 949
    system.hdiutilOutput = hdiutilInfo({{"/dev/disk4s1"}});
    run();
    EXPECT_EQ(system.readers, std::vector<PropertyListReader>{PropertyListReader::Legacy});
    ASSERT_FALSE(system.startedScripts.empty());
    EXPECT_EQ(system.startedScripts[0],
              relaunchText(4321, "/usr/bin/xattr -d com.apple.quarantine '" + destination + "'",
                           "'" + destination + "'"));
}

TEST_F(Relocation, WithoutAQuarantineTheRelaunchOnlyWaitsAndOpens) {
    system.quarantines = false;
    run();
    EXPECT_EQ(system.startedScripts,
              std::vector<std::string>{"(while /bin/kill -0 4321 >&/dev/null; do /bin/sleep 0.1; "
                                       "done; /usr/bin/open '/Applications/Launcher.app') &"});
}

// --- an older copy in the Applications folder --------------------------------------------

TEST_F(Relocation, ARunningCopyIsSwitchedToWithoutCopyingOrTrashing) {
    system.existing.insert(destination);
    system.runningBundles = {"/Users/me/Other.app", "/Applications//./Launcher.app/"};
    run();
    EXPECT_EQ(system.logs,
              std::vector<std::string>{"INFO -- Switching to an already running version"});
    EXPECT_TRUE(system.called("open " + destination));
    EXPECT_EQ(system.exits, std::vector<int>{0});
    EXPECT_FALSE(copied());
    EXPECT_FALSE(system.called("file manager trash " + destination));
    EXPECT_TRUE(system.startedScripts.empty());
}

TEST_F(Relocation, OldAppKitAsksPsWhetherACopyIsRunning) {
    system.appKit = 949;
    system.existing.insert(destination);
    system.bundle = "/Volumes/Bob's Disk/Launcher.app";
    system.shellStatus = 0;
    run();
    ASSERT_EQ(system.ranScripts.size(), 1u);
    EXPECT_EQ(system.ranScripts[0],
              "/bin/ps ax -o comm | /usr/bin/grep '/Applications/Launcher.app'/ "
              "| /usr/bin/grep -v grep >/dev/null");
    EXPECT_FALSE(system.called("running applications"));
    EXPECT_TRUE(system.called("open " + destination));
    EXPECT_EQ(system.exits, std::vector<int>{0});
}

TEST_F(Relocation, ACopyThatIsNotRunningGoesToTheTrashFirst) {
    system.existing.insert(destination);
    system.runningBundles = {"/Applications/Launcher.app.old"};
    system.fileManagerTrashes = true;
    run();
    EXPECT_TRUE(system.called("file manager trash " + destination));
    EXPECT_FALSE(system.called("workspace recycle /Applications | Launcher.app"));
    EXPECT_TRUE(copied());
    EXPECT_EQ(system.exits, std::vector<int>{0});
}

TEST_F(Relocation, TrashMethodsAreTriedInTurn) {
    system.existing.insert(destination);
    system.appKit = 1186; // no file manager trash yet
    system.workspaceRecycles = true;
    run();
    EXPECT_FALSE(system.called("file manager trash " + destination));
    EXPECT_TRUE(system.called("workspace recycle /Applications | Launcher.app"));
    EXPECT_FALSE(system.called("applescript"));
    EXPECT_TRUE(copied());

    RecordingRelocationSystem before10_8;
    before10_8.existing.insert(destination);
    before10_8.atLeast10_8 = false;
    AppRelocator(before10_8).relocateToApplicationsFolder();
    EXPECT_FALSE(before10_8.called("file manager trash " + destination));
    EXPECT_TRUE(before10_8.called("applescript")); // the Finder succeeds by default
    EXPECT_TRUE(before10_8.called("copy " + before10_8.bundle + " -> " + destination));
}

TEST_F(Relocation, WhenEveryTrashMethodFailsTheCopyStays) {
    system.existing.insert(destination);
    system.appleScriptError = "{NSAppleScriptErrorNumber = -1743;}";
    run();
    const std::string line = std::string(40, ' ');
    ASSERT_EQ(system.appleScripts.size(), 1u);
    EXPECT_EQ(system.appleScripts[0],
              line + "set theFile to POSIX file \"/Applications/Launcher.app\" \n" + line +
                  "tell application \"Finder\" \n" + line + "move theFile to trash \n" + line +
                  "end tell");
    EXPECT_EQ(system.logs, (std::vector<std::string>{
                               "Trash AppleScript error: {NSAppleScriptErrorNumber = -1743;}",
                               "ERROR -- Could not trash '/Applications/Launcher.app'"}));
    EXPECT_FALSE(copied());
    EXPECT_TRUE(system.exits.empty());
}

TEST_F(Relocation, AFailedCopyIsReportedAndNothingIsRelaunched) {
    system.copyError = "disk full";
    run();
    EXPECT_EQ(system.logs, (std::vector<std::string>{
                               "ERROR -- Could not copy '/Volumes/Drift Moor/Launcher.app' to "
                               "'/Applications/Launcher.app' (disk full)",
                               "ERROR -- Could not copy myself to /Applications/Launcher.app"}));
    EXPECT_TRUE(system.startedScripts.empty());
    EXPECT_TRUE(system.exits.empty());
}

// --- the administrator road --------------------------------------------------------------

TEST_F(Relocation, AnUnwritableFolderOrCopyGoesThroughRmAndCpAsAdministrator) {
    for (const bool folderUnwritable : {true, false}) {
        RecordingRelocationSystem s;
        s.existing.insert(destination);
        s.unwritable.insert(folderUnwritable ? "/Applications" : destination);
        AppRelocator(s).relocateToApplicationsFolder();
        EXPECT_TRUE(s.called("copy rights system.privilege.admin 19"));
        ASSERT_EQ(s.privilegedRuns.size(), 2u);
        EXPECT_EQ(s.privilegedRuns[0], (std::vector<std::string>{"/bin/rm", "-rf", destination}));
        EXPECT_EQ(s.privilegedRuns[1],
                  (std::vector<std::string>{"/bin/cp", "-pR", s.bundle, destination}));
        EXPECT_EQ(s.frees, 1);
        EXPECT_FALSE(s.called("running applications"));
        EXPECT_FALSE(s.called("file manager trash " + destination));
        EXPECT_FALSE(s.called("copy " + s.bundle + " -> " + destination));
        EXPECT_EQ(s.startedScripts, std::vector<std::string>{plainRelaunch});
        EXPECT_EQ(s.exits, std::vector<int>{0});
    }
}

TEST_F(Relocation, RmExitCodeIsNotLookedAt) {
    system.unwritable.insert("/Applications");
    system.waitStatuses = {exitedWith(1), exitedWith(0)};
    run();
    EXPECT_TRUE(system.logs.empty());
    EXPECT_EQ(system.exits, std::vector<int>{0});
}

TEST_F(Relocation, GuardsStopBeforeAnyAuthorization) {
    for (const auto& [bundle, target] : std::vector<std::pair<std::string, std::string>>{
             {"/Volumes/D/Launcher.app", "/Applications/Launcher"},
             {"/Volumes/D/Launcher.app", "/Applications/.app"},
             {"/Volumes/D/Launcher.app", "  \t"},
             {" \t ", destination}}) {
        RecordingRelocationSystem s;
        EXPECT_FALSE(AppRelocator(s).copyWithAuthorization(bundle, target)) << target;
        EXPECT_EQ(s.logs, std::vector<std::string>{authorizationFailure});
        EXPECT_FALSE(s.called("authorization create"));
        EXPECT_TRUE(s.privilegedRuns.empty());
    }
    RecordingRelocationSystem s;
    s.createStatus = -60008;
    EXPECT_FALSE(AppRelocator(s).copyWithAuthorization("/Volumes/D/Launcher.app", destination));
    EXPECT_EQ(s.logs, std::vector<std::string>{authorizationFailure});
    EXPECT_FALSE(s.called("copy rights system.privilege.admin 19"));
    EXPECT_EQ(s.frees, 0); // nothing was created
}

TEST_F(Relocation, ThePrivilegedRunnerIsLookedUpOnceButAFailedLookupAgain) {
    system.executeWithPrivilegesThere = false;
    EXPECT_FALSE(relocator.copyWithAuthorization(system.bundle, destination));
    EXPECT_FALSE(relocator.copyWithAuthorization(system.bundle, destination));
    EXPECT_EQ(system.lookups, 2);
    system.executeWithPrivilegesThere = true;
    EXPECT_TRUE(relocator.copyWithAuthorization(system.bundle, destination));
    EXPECT_TRUE(relocator.copyWithAuthorization(system.bundle, destination));
    EXPECT_EQ(system.lookups, 3);
}

// --- the relaunch ------------------------------------------------------------------------

TEST_F(Relocation, QuotesInPathsStayInsideOneShellWord) {
    system.bundle = "/Volumes/Bob's Disk/Bob's Game.app";
    system.pid = 77;
    system.fileSystem = FileSystemInfo{false, "/dev/disk'9"};
    system.hdiutilOutput = hdiutilInfo({{"/dev/disk&apos;9"}});
    run();
    ASSERT_EQ(system.startedScripts.size(), 2u);
    const std::string quoted = "'/Applications/Bob'\\''s Game.app'";
    EXPECT_EQ(system.startedScripts[0],
              relaunchText(77, "/usr/bin/xattr -d -r com.apple.quarantine " + quoted, quoted));
    EXPECT_EQ(system.startedScripts[1],
              "(/bin/sleep 5 && /usr/bin/hdiutil detach '/dev/disk'\\''9') &");
}
