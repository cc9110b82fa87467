// Updates by the patches a release carries, entry-wise from nginx: a big packed file that
// changed a little moves about what changed, and whatever keeps a patch from applying brings
// the whole entry instead, never a failed update.
#include "tests/e2e/release_patches_fixture.h"
#include "tests/tools/patched_release.h"

#include <fstream>

namespace fs = std::filesystem;

namespace {

// Flips one byte in the middle of the data of the archive's first patch, as a damaged disk or
// transfer on the server would: its CRC-32 no longer holds.
void corruptFirstPatch(const fs::path& archive) {
    std::string bytes = readFile(archive);
    const std::size_t name = bytes.find(".launcher-patches/");
    ASSERT_NE(name, std::string::npos);
    ASSERT_GE(name, 30u);
    const std::size_t header = name - 30;
    ASSERT_EQ(bytes.compare(header, 4, "PK\x03\x04"), 0);
    const auto field = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(bytes[header + at])) |
               static_cast<std::size_t>(static_cast<unsigned char>(bytes[header + at + 1])) << 8;
    };
    const std::size_t data = name + field(26) + field(28);
    bytes[data + 4096] ^= 0x40;
    writeFile(archive, bytes);
}

} // namespace

TEST_F(ReleasePatchesInstall, AnUpdateOfAPackedFileMovesAboutWhatChanged) {
    SKIP_WITHOUT_DISPLAY();
    const std::string levels = packedLevels(5);
    const std::string first = publishWithPack("1.0", levels);
    announce("1.0", first);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    started.stopAll();

    const std::string changed = onePercentChanged(levels, 21);
    const std::string second = publishWithPack("2.0", changed, {first});
    ASSERT_EQ(patchNames(second).size(), 1u);
    announce("2.0", second);
    const long long before = sentInAll();
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(2).size(), 2u);
    const long long sent = sentInAll() - before;
    EXPECT_TRUE(readFile(dataFolder / levelsName()) == changed); // not printed: megabytes
    EXPECT_TRUE(installedTree() == releaseTree(second));
    EXPECT_FALSE(fs::exists(dataFolder / ".launcher-patches"));
    EXPECT_FALSE(partialsLeft());
    // The manifest, the archive's tail, the changed Info.plist and index, and the patch.
    EXPECT_LE(sent, static_cast<long long>(changed.size() * 3 / 100)) << sent;
    EXPECT_TRUE(lastRunMentions("entry-wise install of " + server->url(second) + ": fetching "));
    EXPECT_TRUE(lastRunMentions(" bytes (1 as patches)"));
    EXPECT_EQ(fetchedWholeLines(), 0u);
}

TEST_F(ReleasePatchesInstall, APlayerOnEitherOfTwoOlderReleasesGetsThePatchFromTheirs) {
    SKIP_WITHOUT_DISPLAY();
    const std::string levels1 = packedLevels(5);
    const std::string levels2 = onePercentChanged(levels1, 21, 0.3);
    const std::string levels3 = onePercentChanged(levels2, 22, 0.7);
    const std::string first = publishWithPack("1.0", levels1);
    const std::string second = publishWithPack("2.0", levels2, {first});
    const std::string third = publishWithPack("3.0", levels3, {first, second});
    ASSERT_EQ(patchNames(third).size(), 2u);
    const auto whole = static_cast<long long>(compressedSizeOf(third, levelsName()));

    std::size_t runs = 0;
    for (const std::string& installed : {first, second}) {
        SCOPED_TRACE("a player on " + installed);
        forgetTheInstall();
        announce(installed == first ? "1.0" : "2.0", installed);
        ASSERT_EQ(runLauncher().exitStatus, 0);
        ASSERT_EQ(gameStarts(++runs).size(), runs);
        started.stopAll();

        announce("3.0", third);
        const long long before = server->bytesSent(third);
        ASSERT_EQ(runLauncher().exitStatus, 0);
        ASSERT_EQ(gameStarts(++runs).size(), runs);
        started.stopAll();
        EXPECT_TRUE(readFile(dataFolder / levelsName()) == levels3); // not printed: megabytes
        EXPECT_TRUE(lastRunMentions(" bytes (1 as patches)"));
        EXPECT_EQ(fetchedWholeLines(), 0u);
        // The other base's patch, if it were fetched too, would double this.
        EXPECT_LE(server->bytesSent(third) - before, whole * 3 / 100)
            << server->bytesSent(third) - before;
    }
}

TEST_F(ReleasePatchesInstall, AFirstInstallSendsNoMoreThanTheSameReleaseWithoutPatches) {
    SKIP_WITHOUT_DISPLAY();
    const std::string levels1 = packedLevels(5);
    const std::string levels2 = onePercentChanged(levels1, 21);
    const std::string first = publishWithPack("1.0", levels1);
    const std::string plain = publishWithPack("2.0", levels2, {}, "plain-2.0.zip");
    const std::string patched = publishWithPack("2.0", levels2, {first});
    ASSERT_EQ(patchNames(patched).size(), 1u);

    std::map<std::string, long long> sent;
    std::size_t runs = 0;
    for (const std::string& archive : {plain, patched}) {
        forgetTheInstall();
        announce("2.0", archive);
        const long long before = sentInAll();
        ASSERT_EQ(runLauncher().exitStatus, 0);
        ASSERT_EQ(gameStarts(++runs).size(), runs);
        started.stopAll();
        sent[archive] = sentInAll() - before;
        EXPECT_TRUE(readFile(dataFolder / levelsName()) == levels2); // not printed: megabytes
        EXPECT_FALSE(lastRunMentions("as patches)"));
    }
    EXPECT_LE(sent[patched], sent[plain] * 102 / 100) << sent[patched] << " vs " << sent[plain];
}

TEST_F(ReleasePatchesInstall, AFileChangedByHandOrADamagedPatchBringsTheWholeEntry) {
    SKIP_WITHOUT_DISPLAY();
    const std::string levels = packedLevels(5);
    const std::string changed = onePercentChanged(levels, 21);
    const std::string first = publishWithPack("1.0", levels);
    const std::string second = publishWithPack("2.0", changed, {first});
    const auto whole = static_cast<long long>(compressedSizeOf(second, levelsName()));
    const std::string wholeLine =
        "entry-wise install of " + server->url(second) + ": fetching " + levelsName() + " whole: ";

    // The player's copy, changed by hand, is no base the release has a patch from.
    announce("1.0", first);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    started.stopAll();
    std::string edited = levels;
    edited[edited.size() / 3] ^= 0x01;
    writeFile(dataFolder / levelsName(), edited);
    announce("2.0", second);
    long long before = server->bytesSent(second);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(2).size(), 2u);
    started.stopAll();
    EXPECT_TRUE(readFile(dataFolder / levelsName()) == changed); // not printed: megabytes
    EXPECT_TRUE(lastRunHas(wholeLine + "the release has no patch from the installed file"));
    EXPECT_EQ(fetchedWholeLines(), 1u);
    EXPECT_FALSE(lastRunMentions("as patches)"));
    EXPECT_GE(server->bytesSent(second) - before, whole);

    // A patch damaged on the server fails its CRC-32 as it is read.
    forgetTheInstall();
    announce("1.0", first);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(3).size(), 3u);
    started.stopAll();
    const auto expected = releaseTree(second);
    corruptFirstPatch(releases / second.substr(1));
    announce("2.0", second);
    before = server->bytesSent(second);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(4).size(), 4u);
    started.stopAll();
    EXPECT_TRUE(readFile(dataFolder / levelsName()) == changed); // not printed: megabytes
    EXPECT_TRUE(lastRunMentions(" bytes (1 as patches)"));
    EXPECT_TRUE(lastRunMentions(wholeLine + "cannot read its patch: "));
    EXPECT_EQ(fetchedWholeLines(), 1u);
    EXPECT_GE(server->bytesSent(second) - before, whole);
    EXPECT_FALSE(partialsLeft());
    EXPECT_TRUE(installedTree() == expected);
}

TEST_F(ReleasePatchesInstall, WithAKeyAPatchThatIsNotTheIndexedOneIsRefusedBeforeItIsApplied) {
    SKIP_WITHOUT_DISPLAY();
    const std::string levels = packedLevels(5);
    const std::string changed = onePercentChanged(levels, 21);
    const std::string first = publishWithPack("1.0", levels);
    const std::string second = publishWithPack("2.0", changed, {first});
    announceSigned("1.0", first, 1);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    started.stopAll();

    // Replaced whole by Info-ZIP, one byte changed: its CRC-32 holds, its hash is not the index's.
    const std::vector<std::string> patches = patchNames(second);
    ASSERT_EQ(patches.size(), 1u);
    const auto expected = releaseTree(second);
    tamperWith(second, patches.front());
    announceSigned("2.0", second, 2);
    ASSERT_EQ(runLauncher().exitStatus, 0) << "the whole entry installs";
    ASSERT_EQ(gameStarts(2).size(), 2u);
    EXPECT_TRUE(readFile(dataFolder / levelsName()) == changed); // not printed: megabytes
    EXPECT_TRUE(lastRunHas("entry-wise install of " + server->url(second) + ": fetching " +
                           levelsName() +
                           " whole: its patch's SHA-256 differs from the ReleaseIndex.sha256's"));
    EXPECT_EQ(fetchedWholeLines(), 1u);
    EXPECT_FALSE(lastRunMentions("its patch failed"));
    EXPECT_FALSE(partialsLeft());
    auto installed = installedTree();
    installed.erase("HighestManifestSerial"); // the signed release's record
    EXPECT_TRUE(installed == expected);
}

TEST_F(ReleasePatchesInstall, APatchFrameNotOfTheEntrysSizeIsRefusedBeforeAnythingIsWritten) {
    SKIP_WITHOUT_DISPLAY();
    const std::string levels = packedLevels(5);
    const std::string changed = onePercentChanged(levels, 21);
    const std::string first = publishWithPack("1.0", levels);
    const std::string wholeLine = "entry-wise install of " + server->url("/game-2.0.zip") +
                                  ": fetching " + levelsName() + " whole: its patch failed: ";
    // The whole entry and the records fit well below the limit; the announced result does not.
    constexpr std::uint64_t limit = 64 << 20;
    struct Case {
        const char* what;
        std::string frame;
        std::string line;
    } cases[] = {
        {"a frame announcing 1 GiB", zstdFrameAnnouncing(1ULL << 30),
         "the patch's frame announces a result of " + std::to_string(1ULL << 30) +
             " bytes, the file has " + std::to_string(changed.size())},
        {"a frame that does not say its size", zstdFrameAnnouncing(std::nullopt),
         "the patch's frame header does not give the size of its result"},
    };
    std::size_t runs = 0;
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        installAfresh("1.0", first, ++runs);
        ASSERT_FALSE(HasFatalFailure());

        const std::string second = publishWithPack("2.0", changed, {first});
        const std::vector<std::string> patches = patchNames(second);
        ASSERT_EQ(patches.size(), 1u);
        replacePatch(second, patches.front(), item.frame);
        const auto expected = releaseTree(second);
        announce("2.0", second);
        ASSERT_EQ(runLauncherWritingAtMost(limit).exitStatus, 0) << "the whole entry installs";
        ASSERT_EQ(gameStarts(++runs).size(), runs);
        started.stopAll();
        EXPECT_TRUE(readFile(dataFolder / levelsName()) == changed); // not printed: megabytes
        EXPECT_TRUE(lastRunMentions(" bytes (1 as patches)"));
        EXPECT_TRUE(lastRunHas(wholeLine + item.line));
        EXPECT_EQ(fetchedWholeLines(), 1u);
        EXPECT_FALSE(partialsLeft());
        EXPECT_TRUE(installedTree() == expected);
    }
}

// A studio's round with the release command alone: 1.0 installs, 2.0 (patched from 1.0's
// archive) updates by its patch, and 2.1, which carries launcher 2.0's installer, reaches the
// player's launcher through its self-update.
TEST_F(ReleasePatchesInstall, ReleasesFromTheirDescriptionsInstallPatchAndUpdateTheLauncher) {
    SKIP_WITHOUT_DISPLAY();
    const fs::path assets = staging / "assets";
    fs::create_directories(assets);
    const std::string levels = packedLevels(5);
    writeFile(assets / "levels.pak", levels);
    const std::string current = publishLauncherInstaller("1.0");
    const std::string installer = publishLauncherInstaller("2.0");
    // release <version> into releases/r<version>, naming the launcher (1.0 by URL, or a newer
    // one by its installer) and the older archives it patches from.
    const auto release = [&](const std::string& version, const std::string& launcher,
                             const std::vector<std::string>& older) {
        std::string text =
            "[game]\nname = " + displayName + "\nversion = " + version +
            "\nprefix =\nexecutable = " + SAMPLE_GAME +
            "\nresource = assets\n[server]\nbase_url = " + server->url("/r" + version + "/") +
            "\n[launcher]\n" + launcher +
            "\n[release]\narchive = game.zip\noutput = " + (releases / ("r" + version)).string() +
            "\n[patches]\n";
        for (const std::string& from : older) {
            text += "from = " + (releases / from / "game.zip").string() + "\n";
        }
        writeFile(staging / "RELEASE.ini", text);
        runPublish({"release", (staging / "RELEASE.ini").string()});
        configure("1.0", "/r" + version + "/LatestVersion.ini");
    };
    // The installer already served is fetched and checked; the launcher (1.0) stays as it is.
    release("1.0", "version = 1.0\nurl = " + server->url(current), {});
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    started.stopAll();

    const std::string changed = onePercentChanged(levels, 21);
    writeFile(assets / "levels.pak", changed);
    release("2.0", "version = 1.0\nurl = " + server->url(current), {"r1.0"});
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(2).size(), 2u);
    started.stopAll();
    const fs::path installed =
        dataFolder / gameBundleName() / "Contents/Resources/assets/levels.pak";
    EXPECT_TRUE(readFile(installed) == changed); // not printed: megabytes
    EXPECT_TRUE(lastRunMentions(" bytes (1 as patches)"));

    release("2.1", "version = 2.0\ninstaller = " + (releases / installer.substr(1)).string(),
            {"r1.0", "r2.0"});
    EXPECT_EQ(runLauncher().exitStatus, 0);
    EXPECT_TRUE(lastRunMentions("comparing endpoint launcher version:2.0 to config installer "
                                "version:1.0..."));
    const auto starts = gameStarts(3);
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[2].version, "2.0"); // the installer's bundle, started by the self-update
}
