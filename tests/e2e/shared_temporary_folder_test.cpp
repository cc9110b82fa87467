// The self-update where another local user got to the shared /tmp first: the built bundle
// against nginx, with no $TMPDIR, so that the launcher picks its temporary folder itself.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/other_user.h"
#include "tests/support/temp_folder.h"

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The self-update without $TMPDIR, so that the launcher picks its temporary folder itself.
class SharedTemporaryFolder : public AcceptanceTest {
  protected:
    // Where the self-update used to work, open to every local user.
    const fs::path shared = "/tmp/Test App";
    StartedPrograms startedThere{shared};

    void TearDown() override {
        startedThere.stopAll();
        std::error_code ignored;
        fs::remove_all(shared, ignored);
    }
};

} // namespace

TEST_F(SharedTemporaryFolder, ALinkAnotherUserPlantedThereIsNeverWrittenThrough) {
    const OtherUser nobody = otherUser();
    SKIP_WITHOUT_OTHER_USER(nobody);
    if (fs::exists(fs::symlink_status(shared))) {
        GTEST_SKIP() << shared << " already exists on this machine";
    }
    const fs::path victim = sandbox.root / "victim.txt";
    writeFile(victim, "the player's own file");
    const std::string folder = shared.string();
    const std::string link = (shared / (displayName + ".zip")).string();
    const std::string target = victim.string();
    ASSERT_TRUE(runAs(nobody, [&] {
        return ::mkdir(folder.c_str(), 0755) == 0 && ::symlink(target.c_str(), link.c_str()) == 0;
    }));
    const fs::path runtime = sandbox.root / "run"; // the user's own, mode 0700
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms(0700));

    const std::string installer = publishLauncherInstaller("2.0");
    publishManifest("1.0", publishGame("1.0"), "", "2.0", installer);
    configure("1.0", "/LatestVersion.ini");
    const ChildResult result = sandbox.run({}, {{"TMPDIR", ""},
                                                {"XDG_RUNTIME_DIR", runtime.string()},
                                                {"SAMPLE_GAME_RECORD", gameRecord.string()},
                                                {"SAMPLE_GAME_QUIET", "1"},
                                                {"SAMPLE_GAME_SECONDS", "60"}});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(readFile(victim), "the player's own file");
    EXPECT_EQ(fs::read_symlink(link), victim) << "the other user's folder was written into";
    const auto starts = gameStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].version, "2.0");
    EXPECT_EQ(executableOf(starts[0].pid),
              (runtime / "Test App" / (displayName + ".app") / "Contents" / "MacOS" / "sample_game")
                  .string());
    EXPECT_TRUE(sandbox.logHas(
        "performToFileCurlAndExecute start - url:" + server->url("/launcher-2.0.zip") +
        " downloadToFilePath:" + runtime.string() + "//Test App/ downloadToFileName:" +
        displayName + ".zip downloadedExecutableToRun:" + displayName + ".app"));
}
