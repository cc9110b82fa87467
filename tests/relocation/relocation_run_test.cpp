#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool privateMountsWork() {
    if (geteuid() != 0 || !fs::exists("/usr/bin/unshare")) {
        return false;
    }
    return runChild("/usr/bin/unshare", {"-m", "/bin/true"}).exitStatus == 0;
}

void replaceInFile(const fs::path& path, const std::string& from, const std::string& to) {
    std::string text = readFile(path);
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << path;
    text.replace(at, from.size(), to);
    writeFile(path, text);
}

// Waits (bounded, polling) until the file holds every one of texts.
bool waitForText(const fs::path& file, const std::vector<std::string>& texts) {
    for (int i = 0; i < 1200; ++i) {
        const std::string contents = readFile(file);
        bool all = true;
        for (const std::string& text : texts) {
            all = all && contents.find(text) != std::string::npos;
        }
        if (all) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The built launcher copied to bundleFolder, pointed at a closed local port: the flow of a
// relaunched copy ends quickly at the manifest fetch.
fs::path placeLauncher(const fs::path& bundleFolder) {
    const fs::path bundle = bundleFolder / "Launcher.app";
    fs::create_directories(bundleFolder);
    fs::copy(LAUNCHER_BUNDLE_DIR, bundle, fs::copy_options::recursive);
    replaceInFile(bundle / "Contents" / "Resources" / "config.plist",
                  "http://updates.quillmere.example", "http://127.0.0.1:1");
    return bundle;
}

// Runs program with arguments in a private mount namespace where /opt is root/opt, a test
// folder, so that the machine's /opt is never written. The streams go to root/streams.txt: the
// relaunched copy inherits them and outlives the pipes of runChild.
ChildResult runWithTestOpt(const TempFolder& root, const std::vector<std::string>& program,
                           const std::map<std::string, std::string>& environment) {
    const fs::path opt = root / "opt";
    fs::create_directories(opt);
    writeFile(opt / ".test-marker", "");
    const std::string script = "mount --bind \"$0\" /opt && test -e /opt/.test-marker && "
                               "out=\"$1\" && shift 2 && exec \"$@\" >\"$out\" 2>&1";
    std::vector<std::string> arguments{
        "-m", "/bin/sh", "-c", script, opt.string(), (root / "streams.txt").string(), "--"};
    arguments.insert(arguments.end(), program.begin(), program.end());
    return runChild("/usr/bin/unshare", arguments, environment);
}

// The real launcher, started from bundleFolder, copies itself into /opt and the copy runs the
// normal flow.
void expectRelocationFrom(const fs::path& bundleFolder, const TempFolder& root,
                          const std::map<std::string, std::string>& temporaryEnvironment) {
    const fs::path opt = root / "opt";
    const fs::path data = root / "data";
    fs::create_directories(root / "home");
    const fs::path bundle = placeLauncher(bundleFolder);

    std::map<std::string, std::string> environment = {{"HOME", (root / "home").string()},
                                                      {"XDG_DATA_HOME", data.string()}};
    environment.insert(temporaryEnvironment.begin(), temporaryEnvironment.end());
    const ChildResult first =
        runWithTestOpt(root, {(bundle / "Contents" / "MacOS" / "launcher").string()}, environment);
    EXPECT_EQ(first.exitStatus, 0) << first.standardError << readFile(root / "streams.txt");

    EXPECT_TRUE(fs::exists(opt / "Launcher.app" / "Contents" / "MacOS" / "launcher"));
    EXPECT_TRUE(fs::exists(opt / "Launcher.app" / "Contents" / "Resources" / "config.plist"));
    EXPECT_TRUE(fs::exists(bundle)) << "the original stays where it was";

    const fs::path log = data / "Quillmere" / "Driftmoor" / "out.log";
    EXPECT_TRUE(waitForText(log, {"[/opt/Launcher.app/Contents/MacOS/launcher setup for logging]",
                                  "Error getting or parsing LatestVersion.ini!"}))
        << readFile(log) << readFile(root / "streams.txt");
    EXPECT_EQ(readFile(log).find("[" + (bundle / "Contents").string()), std::string::npos)
        << "the first launcher must end without running the flow itself";
}

} // namespace

TEST(RelocationRun, ALauncherInTheTemporaryFolderMovesIntoOptAndRunsFromThere) {
    if (!privateMountsWork()) {
        GTEST_SKIP() << "needs root and unshare to bind a test folder over /opt";
    }
    TempFolder root;
    const fs::path temporary = root / "tmp";
    fs::create_directories(temporary);
    expectRelocationFrom(temporary, root, {{"TMPDIR", temporary.string()}});
}

// Without $TMPDIR the launcher's own temporary folder is a private one elsewhere; a bundle
// under /tmp still lies in a temporary place.
TEST(RelocationRun, ALauncherUnderTmpMovesAlsoWhenItsPrivateFolderIsElsewhere) {
    if (!privateMountsWork()) {
        GTEST_SKIP() << "needs root and unshare to bind a test folder over /opt";
    }
    TempFolder root;
    const fs::path runtime = root / "run";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms(0700));
    const TempFolder underTmp("/tmp");
    expectRelocationFrom(underTmp.path(), root,
                         {{"TMPDIR", ""}, {"XDG_RUNTIME_DIR", runtime.string()}});
}

// A self-update: the player's copy in ~/Applications starts the new launcher from the temporary
// folder and ends. Here that copy is a bash under the bundle's executable name which stays until
// the new launcher has ended (or a couple of seconds have passed); the new launcher must wait for
// it rather than end in favour of a copy that is about to go, then replace it where it is.
TEST(RelocationRun, ALauncherStartedByTheUsersCopyReplacesItThereOnceThatHasEnded) {
    if (!privateMountsWork()) {
        GTEST_SKIP() << "needs root and unshare to bind a test folder over /opt";
    }
    TempFolder root;
    const fs::path temporary = root / "tmp";
    const fs::path bundle = placeLauncher(temporary);
    const fs::path usersCopy = root / "home" / "Applications" / "Launcher.app";
    const fs::path oldExecutable = usersCopy / "Contents" / "MacOS" / "launcher";
    fs::create_directories(oldExecutable.parent_path());
    fs::copy_file("/bin/bash", oldExecutable);
    const std::string starter = "\"$0\" & new=$!; for i in $(seq 40); do "
                                "kill -0 $new 2>/dev/null || break; sleep 0.05; done";
    const fs::path data = root / "data";
    const ChildResult first =
        runWithTestOpt(root,
                       {oldExecutable.string(), "-c", starter,
                        (bundle / "Contents" / "MacOS" / "launcher").string()},
                       {{"HOME", (root / "home").string()},
                        {"XDG_DATA_HOME", data.string()},
                        {"TMPDIR", temporary.string()}});
    EXPECT_EQ(first.exitStatus, 0) << first.standardError;

    const fs::path log = data / "Quillmere" / "Driftmoor" / "out.log";
    const std::string copied = fs::canonical(usersCopy).string();
    EXPECT_TRUE(waitForText(log, {"[" + copied + "/Contents/MacOS/launcher setup for logging]",
                                  "Error getting or parsing LatestVersion.ini!"}))
        << readFile(log) << readFile(root / "streams.txt");
    EXPECT_TRUE(fs::exists(usersCopy / "Contents" / "Resources" / "config.plist"));
    EXPECT_TRUE(fs::exists(data / "Trash" / "files" / "Launcher.app" / "Contents" / "MacOS"))
        << "the old copy goes to the trash";
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "opt"), fs::directory_iterator()), 1);
    const std::string streams = readFile(root / "streams.txt");
    EXPECT_EQ(streams.find("Switching to an already running version"), std::string::npos)
        << streams;
    EXPECT_EQ(streams.find("xattr"), std::string::npos) << streams;
}
