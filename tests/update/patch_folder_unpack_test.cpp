// The whole-archive unpack leaves a release's patch folder in the archive, whatever its case.
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/patched_release.h"
#include "update/unpack/zip_extract.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace fs = std::filesystem;

namespace {

// Every path below root, relative to it.
std::set<std::string> pathsBelow(const fs::path& root) {
    std::set<std::string> paths;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        paths.insert(fs::relative(item.path(), root).string());
    }
    return paths;
}

} // namespace

TEST(PatchFolderUnpack, AReleaseWithPatchesUnpacksToWhatThePlainReleaseGives) {
    TempFolder folder;
    fs::create_directories(folder / "log");
    LogCapture log((folder / "log").string());
    const std::string older = incompressibleBytes(2 << 20, 1);
    const fs::path first = makeGameBundle(folder / "v1", {{"levels.pak", older}});
    const fs::path second = makeGameBundle(
        folder / "v2", {{"levels.pak", changedSlightly(older, 2)}, {"notes.txt", "what is new"}});
    ASSERT_EQ(packRelease(first, folder / "v1.zip").exitStatus, 0);
    ASSERT_EQ(packRelease(second, folder / "plain.zip").exitStatus, 0);
    ASSERT_EQ(
        packRelease(second, folder / "patched.zip", {"--patch-from", (folder / "v1.zip").string()})
            .exitStatus,
        0);
    ASSERT_EQ(patchEntriesOf(folder / "patched.zip").size(), 1u);

    std::vector<std::tuple<std::string, long long, long long>> progress;
    const auto record = [&](const std::string& name, long long number, long long total) {
        progress.emplace_back(name, number, total);
    };
    fs::create_directories(folder / "patched");
    fs::create_directories(folder / "plain");
    ASSERT_TRUE(
        unzipArchive((folder / "patched.zip").string(), (folder / "patched").string(), record))
        << log.contents();
    ASSERT_TRUE(
        unzipArchive((folder / "plain.zip").string(), (folder / "plain").string(), nullptr));
    EXPECT_EQ(pathsBelow(folder / "patched"), pathsBelow(folder / "plain"));
    EXPECT_FALSE(fs::exists(folder / "patched" / ".launcher-patches"));
    EXPECT_TRUE(readFile(folder / "patched/Game.app/Contents/Resources/levels.pak") ==
                readFile(second / "Contents/Resources/levels.pak"));

    // The progress counts what is unpacked: the last entry, the index that comes after the
    // patch, ends it at its total.
    ASSERT_FALSE(progress.empty());
    const auto& [name, number, total] = progress.back();
    EXPECT_EQ(name, "ReleaseIndex.sha256");
    EXPECT_EQ(number, total);
    EXPECT_EQ(static_cast<long long>(progress.size()), total);
}

TEST(PatchFolderUnpack, ThePatchFolderInAnotherLetterCaseIsNotUnpackedEither) {
    TempFolder folder;
    fs::create_directories(folder / "log");
    LogCapture log((folder / "log").string());
    const fs::path tree = folder / "tree";
    writeFile(tree / "Game.app/Contents/MacOS/Game", "#!/bin/sh\nexit 0\n");
    writeFile(tree / ".Launcher-Patches/a.zst", "not for the player's disk");
    writeFile(tree / ".LAUNCHER-PATCHES/deeper/b.zst", "nor this");
    writeFile(tree / "Game.app/.launcher-patches/kept.txt", "only the top level is reserved");
    const ChildResult zipped =
        runChild("/bin/sh", {"-c", "cd \"$1\" && /usr/bin/zip -q -r \"$2\" .", "sh", tree.string(),
                             (folder / "odd.zip").string()});
    ASSERT_EQ(zipped.exitStatus, 0) << zipped.standardError;
    fs::create_directories(folder / "out");
    ASSERT_TRUE(unzipArchive((folder / "odd.zip").string(), (folder / "out").string(), nullptr))
        << log.contents();
    EXPECT_EQ(pathsBelow(folder / "out"),
              (std::set<std::string>{"Game.app", "Game.app/Contents", "Game.app/Contents/MacOS",
                                     "Game.app/Contents/MacOS/Game", "Game.app/.launcher-patches",
                                     "Game.app/.launcher-patches/kept.txt"}));
}
