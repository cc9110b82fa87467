// pack --patch-from: patches from older releases' files, checked by applying them with the
// launcher's own applier.
#include "tests/support/temp_folder.h"
#include "tests/tools/patched_release.h"
#include "tests/tools/publish_tool.h"
#include "update/patch/patch_names.h"
#include "update/release/release_index.h"
#include "update/release/sha256_stream.h"

#include <gtest/gtest.h>

#include <zip.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBigFile = 2 << 20;      // above the 1 MiB a file needs by default
constexpr std::size_t kSmallFile = 300 * 1024; // below it

class PackPatches : public testing::Test {
  protected:
    // Release version of a game whose files are given below Contents/Resources.
    fs::path release(const std::string& version,
                     const std::map<std::string, std::string>& resources,
                     const std::string& name = "Game") {
        const fs::path bundle = makeGameBundle(folder / ("v" + version), resources, name);
        const fs::path archive = folder / ("game-" + version + ".zip");
        const ChildResult packed = packRelease(bundle, archive);
        EXPECT_EQ(packed.exitStatus, 0) << packed.standardError;
        return archive;
    }

    fs::path bundleOf(const std::string& version, const std::string& name = "Game") {
        return folder / ("v" + version) / (name + ".app");
    }

    // The file at entry of the bundle of version, on disk.
    fs::path fileOf(const std::string& version, const std::string& file) {
        return bundleOf(version) / "Contents" / "Resources" / file;
    }

    // Applies the patch named by the two files' hashes and expects the newer file byte for byte.
    void expectPatchTurns(const std::map<std::string, std::string>& patches, const fs::path& older,
                          const fs::path& newer) {
        const std::string wanted = readFile(newer);
        const PatchKey key{sha256Hex(readFile(older)), sha256Hex(wanted)};
        const auto patch = patches.find(patchEntryName(key));
        ASSERT_NE(patch, patches.end()) << "no patch from " << older << " to " << newer;
        const fs::path result = folder / "result";
        const PatchOutcome outcome = applyPatchBytes(older, patch->second, result, wanted.size());
        ASSERT_TRUE(outcome.applied()) << outcome.failure;
        EXPECT_EQ(outcome.sha256, key.resultSha256);
        EXPECT_EQ(outcome.bytes, wanted.size());
        EXPECT_TRUE(readFile(result) == wanted);
    }

    TempFolder folder;
};

} // namespace

TEST_F(PackPatches, APatchTurnsTheOlderFileIntoTheNewOneAndTheIndexListsIt) {
    const std::string big = incompressibleBytes(kBigFile, 1);
    const std::string same = incompressibleBytes(kBigFile, 2);
    const std::string small = incompressibleBytes(kSmallFile, 3);
    const fs::path older =
        release("1", {{"levels.pak", big}, {"same.pak", same}, {"small.pak", small}});
    release("2", {{"levels.pak", changedSlightly(big, 4)},
                  {"same.pak", same},
                  {"small.pak", changedSlightly(small, 5)}});
    const fs::path archive = folder / "patched.zip";
    const ChildResult packed =
        packRelease(bundleOf("2"), archive, {"--patch-from", older.string()});
    ASSERT_EQ(packed.exitStatus, 0) << packed.standardError;

    // One patch: the unchanged file needs none and the small one is under the 1 MiB default.
    const auto patches = patchEntriesOf(archive);
    ASSERT_EQ(patches.size(), 1u);
    expectPatchTurns(patches, fileOf("1", "levels.pak"), fileOf("2", "levels.pak"));
    const std::string& patchName = patches.begin()->first;
    const EntryStorage patch = storageOf(archive, patchName);
    EXPECT_EQ(patch.method, ZIP_CM_STORE);
    // About the changed hundredth, and far below half of the whole entry.
    EXPECT_LT(patch.compressedSize, kBigFile / 50);
    EXPECT_LT(patch.compressedSize * 2,
              storageOf(archive, resourceEntry("levels.pak")).compressedSize);

    // The index lists the patch like any entry, with the hash of its bytes, and still lists
    // every file of the bundle.
    const auto entries = readArchive(archive);
    ASSERT_EQ(entries.back().name, releaseIndexName);
    const auto index = parseReleaseIndex(entries.back().data);
    ASSERT_TRUE(index);
    std::map<std::string, std::string> listed;
    for (const auto& entry : *index) {
        listed[entry.name] = entry.sha256;
    }
    EXPECT_EQ(listed[patchName], sha256Hex(patches.begin()->second));
    EXPECT_EQ(listed[resourceEntry("levels.pak")], sha256Hex(readFile(fileOf("2", "levels.pak"))));
    EXPECT_EQ(listed.size(), 5u); // the executable, three files and the patch

    // Apart from the patch and the index, the bundle's entries are what pack makes without
    // patches.
    const fs::path plain = folder / "plain.zip";
    ASSERT_EQ(packRelease(bundleOf("2"), plain).exitStatus, 0);
    const auto plainEntries = readArchive(plain);
    ASSERT_EQ(entries.size(), plainEntries.size() + 1);
    for (std::size_t i = 0; i + 1 < plainEntries.size(); ++i) {
        EXPECT_EQ(entries[i].name, plainEntries[i].name);
        EXPECT_TRUE(entries[i].data == plainEntries[i].data) << entries[i].name;
        EXPECT_EQ(entries[i].mode, plainEntries[i].mode) << entries[i].name;
    }
    EXPECT_EQ(entries[plainEntries.size() - 1].name,
              patchName); // after the bundle, before the index
}

TEST_F(PackPatches, ALowerMinimumSizeGivesSmallFilesTheirPatchesToo) {
    const std::string small = incompressibleBytes(kSmallFile, 6);
    const fs::path older = release("1", {{"small.pak", small}});
    release("2", {{"small.pak", changedSlightly(small, 7)}});
    const fs::path archive = folder / "patched.zip";
    ASSERT_EQ(packRelease(bundleOf("2"), archive,
                          {"--patch-from", older.string(), "--patch-min-size", "100000"})
                  .exitStatus,
              0);
    const auto patches = patchEntriesOf(archive);
    EXPECT_EQ(patches.size(), 1u);
    expectPatchTurns(patches, fileOf("1", "small.pak"), fileOf("2", "small.pak"));
}

TEST_F(PackPatches, EachOlderReleaseGetsThePatchForItsOwnFile) {
    const std::string first = incompressibleBytes(kBigFile, 10);
    const std::string second = changedSlightly(first, 11);
    const std::string third = changedSlightly(second, 12);
    const std::string shared = incompressibleBytes(kBigFile, 13);
    const fs::path one = release("1", {{"levels.pak", first}, {"shared.pak", shared}});
    const fs::path two = release("2", {{"levels.pak", second}, {"shared.pak", shared}});
    release("3", {{"levels.pak", third}, {"shared.pak", changedSlightly(shared, 14)}});
    const fs::path archive = folder / "patched.zip";
    const ChildResult packed = packRelease(
        bundleOf("3"), archive, {"--patch-from", two.string(), "--patch-from", one.string()});
    ASSERT_EQ(packed.exitStatus, 0) << packed.standardError;

    // levels.pak from each older release; shared.pak is the same in both, so one patch.
    const auto patches = patchEntriesOf(archive);
    EXPECT_EQ(patches.size(), 3u);
    expectPatchTurns(patches, fileOf("1", "levels.pak"), fileOf("3", "levels.pak"));
    expectPatchTurns(patches, fileOf("2", "levels.pak"), fileOf("3", "levels.pak"));
    expectPatchTurns(patches, fileOf("1", "shared.pak"), fileOf("3", "shared.pak"));
}

TEST_F(PackPatches, APatchNoSmallerThanHalfTheEntryIsLeftOut) {
    const fs::path older = release("1", {{"levels.pak", incompressibleBytes(kBigFile, 20)}});
    // Rewritten whole: a patch cannot be smaller than the file.
    release("2", {{"levels.pak", incompressibleBytes(kBigFile, 21)}});
    const fs::path archive = folder / "patched.zip";
    const ChildResult packed =
        packRelease(bundleOf("2"), archive, {"--patch-from", older.string()});
    ASSERT_EQ(packed.exitStatus, 0) << packed.standardError;
    EXPECT_TRUE(patchEntriesOf(archive).empty());
    EXPECT_NE(packed.standardOutput.find("not kept"), std::string::npos) << packed.standardOutput;
    const auto index = parseReleaseIndex(readArchive(archive).back().data);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->size(), 2u); // the executable and the file
}

TEST_F(PackPatches, AnOlderReleaseWithNoFileInCommonGivesThePlainRelease) {
    const fs::path other =
        release("0", {{"levels.pak", incompressibleBytes(kBigFile, 30)}}, "Other");
    release("1", {{"levels.pak", incompressibleBytes(kBigFile, 31)}});
    const fs::path archive = folder / "patched.zip";
    const ChildResult packed =
        packRelease(bundleOf("1"), archive, {"--patch-from", other.string()});
    ASSERT_EQ(packed.exitStatus, 0) << packed.standardError;
    EXPECT_NE(packed.standardOutput.find("no patches"), std::string::npos) << packed.standardOutput;
    const fs::path plain = folder / "plain.zip";
    ASSERT_EQ(packRelease(bundleOf("1"), plain).exitStatus, 0);
    EXPECT_TRUE(readFile(archive) == readFile(plain));
}

TEST_F(PackPatches, AnOlderArchiveThatCannotBeReadStopsThePackWithNothingWritten) {
    release("1", {{"levels.pak", incompressibleBytes(kBigFile, 40)}});
    const fs::path good = release("2", {{"levels.pak", incompressibleBytes(kBigFile, 41)}});
    writeFile(folder / "notes.zip", "release notes, not an archive\n");
    const std::string whole = readFile(good);
    writeFile(folder / "cut.zip", whole.substr(0, whole.size() / 2));
    for (const char* name : {"notes.zip", "cut.zip", "missing.zip"}) {
        SCOPED_TRACE(name);
        const fs::path archive = folder / "patched.zip";
        const ChildResult packed =
            packRelease(bundleOf("1"), archive,
                        {"--patch-from", good.string(), "--patch-from", (folder / name).string()});
        EXPECT_EQ(packed.exitStatus, 1);
        EXPECT_NE(packed.standardError.find("--patch-from " + (folder / name).string() +
                                            ": cannot read it as a ZIP archive"),
                  std::string::npos)
            << packed.standardError;
        EXPECT_FALSE(fs::exists(archive));
    }
    // An older archive whose file is damaged (its CRC-32 no longer matches) stops the pack too.
    std::string damaged = whole;
    damaged[damaged.size() / 2] ^= 0x10;
    writeFile(folder / "damaged.zip", damaged);
    const ChildResult fromDamaged = packRelease(
        bundleOf("1"), folder / "patched.zip", {"--patch-from", (folder / "damaged.zip").string()});
    EXPECT_EQ(fromDamaged.exitStatus, 1);
    EXPECT_NE(fromDamaged.standardError.find("cannot read " + resourceEntry("levels.pak") + " of " +
                                             (folder / "damaged.zip").string()),
              std::string::npos)
        << fromDamaged.standardError;
    EXPECT_FALSE(fs::exists(folder / "patched.zip"));

    // An archive already at the output is left as it was, and no scratch file stays behind.
    writeFile(folder / "patched.zip", "last week's upload");
    EXPECT_EQ(packRelease(bundleOf("1"), folder / "patched.zip",
                          {"--patch-from", (folder / "notes.zip").string()})
                  .exitStatus,
              1);
    EXPECT_EQ(readFile(folder / "patched.zip"), "last week's upload");
    for (const auto& item : fs::directory_iterator(folder.path())) {
        EXPECT_EQ(item.path().filename().string().find(".packing"), std::string::npos);
    }
}

TEST_F(PackPatches, PatchOptionsThatMakeNoSenseAreUsageErrors) {
    const fs::path older = release("1", {{"levels.pak", "x"}});
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--patch-from", older.string(), "--patch-min-size", "1M"},
          std::vector<std::string>{"--patch-from", older.string(), "--patch-min-size", "-5"},
          std::vector<std::string>{"--patch-min-size", "100"}}) {
        const ChildResult packed = packRelease(bundleOf("1"), folder / "out.zip", extra);
        EXPECT_EQ(packed.exitStatus, 2) << extra.back();
        EXPECT_FALSE(fs::exists(folder / "out.zip"));
    }
    const ChildResult help = publish({"pack", "--help"});
    EXPECT_NE(help.standardOutput.find("--patch-from"), std::string::npos);
    EXPECT_NE(help.standardOutput.find("2 GiB"), std::string::npos);
}
