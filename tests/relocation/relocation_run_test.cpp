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

// The real launcher, started from bundleFolder, copies itself into /opt and the copy runs the
// normal flow. /opt is a test folder bound over the real one in a private mount namespace, so
// the machine's /opt is never written.
void expectRelocationFrom(const fs::path& bundleFolder, const TempFolder& root,
                          const std::map<std::string, std::string>& temporaryEnvironment) {
    const fs::path opt = root / "opt";
    const fs::path data = root / "data";
    fs::create_directories(opt);
    fs::create_directories(root / "home");
    writeFile(opt / ".test-marker", "");
    const fs::path bundle = bundleFolder / "Launcher.app";
    fs::copy(LAUNCHER_BUNDLE_DIR, bundle, fs::copy_options::recursive);
    // A closed local port: the relaunched copy's flow ends quickly at the manifest fetch.
    replaceInFile(bundle / "Contents" / "Resources" / "config.plist",
                  "http://updates.quillmere.example", "http://127.0.0.1:1");

    // The launcher's streams go to a file: the relaunched copy inherits them and outlives the
    // pipes of runChild.
    const std::string script = "mount --bind \"$0\" /opt && test -e /opt/.test-marker && "
                               "exec \"$1\" >\"$2\" 2>&1";
    std::map<std::string, std::string> environment = {{"HOME", (root / "home").string()},
                                                      {"XDG_DATA_HOME", data.string()}};
    environment.insert(temporaryEnvironment.begin(), temporaryEnvironment.end());
    const ChildResult first = runChild("/usr/bin/unshare",
                                       {"-m", "/bin/sh", "-c", script, opt.string(),
                                        (bundle / "Contents" / "MacOS" / "launcher").string(),
                                        (root / "streams.txt").string()},
                                       environment);
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
