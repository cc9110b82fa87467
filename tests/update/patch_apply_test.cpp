// Applying a release's patches as the launcher does: from the archive entry, against the
// installed file, with every way a patch or its base can be wrong ending in a clean failure.
#include "tests/support/temp_folder.h"
#include "tests/tools/patched_release.h"
#include "update/patch/patch_names.h"
#include "update/release/sha256_stream.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFileSize = 9
                                  << 20; // more than one piece of the hash that follows the decoder

struct ArchiveClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryClose {
    void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};

// Two releases of a game with a big file a little changed, the second packed with a patch from
// the first. Made once for all cases.
class PatchApply : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder = new TempFolder;
        older = incompressibleBytes(kFileSize, 1);
        newer = changedSlightly(older, 2);
        const fs::path first = makeGameBundle(*folder / "v1", {{"levels.pak", older}});
        const fs::path second = makeGameBundle(*folder / "v2", {{"levels.pak", newer}});
        ASSERT_EQ(packRelease(first, *folder / "v1.zip").exitStatus, 0);
        const ChildResult packed = packRelease(second, *folder / "v2.zip",
                                               {"--patch-from", (*folder / "v1.zip").string()});
        ASSERT_EQ(packed.exitStatus, 0) << packed.standardError;
        const auto patches = patchEntriesOf(*folder / "v2.zip");
        ASSERT_EQ(patches.size(), 1u);
        patch = patches.begin()->second;
        writeFile(*folder / "older.pak", older);
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }

    // Applies bytes to the older file for a result of expectedBytes (the newer file's size when
    // none); a failure must leave nothing of a result, and say why when because is given.
    static void expectFailure(const std::string& what, const std::string& bytes,
                              const fs::path& base = *folder / "older.pak",
                              std::optional<std::uint64_t> expectedBytes = std::nullopt,
                              const std::string& because = "") {
        SCOPED_TRACE(what);
        const fs::path output = *folder / "result";
        writeFile(output, "an earlier attempt");
        const PatchOutcome outcome =
            applyPatchBytes(base, bytes, output, expectedBytes.value_or(newer.size()));
        EXPECT_FALSE(outcome.applied());
        EXPECT_FALSE(outcome.failure.empty());
        EXPECT_NE(outcome.failure.find(because), std::string::npos) << outcome.failure;
        EXPECT_TRUE(outcome.sha256.empty());
        EXPECT_EQ(fs::file_size(output), 0u);
    }

    static TempFolder* folder;
    static std::string older;
    static std::string newer;
    static std::string patch;
};

TempFolder* PatchApply::folder = nullptr;
std::string PatchApply::older;
std::string PatchApply::newer;
std::string PatchApply::patch;

} // namespace

TEST_F(PatchApply, TheEntryAppliesToTheInstalledFileAndNothingElse) {
    int code = 0;
    const std::unique_ptr<zip_t, ArchiveClose> archive(
        zip_open((*folder / "v2.zip").c_str(), ZIP_RDONLY, &code));
    ASSERT_TRUE(archive);
    const PatchKey key{sha256Hex(older), sha256Hex(newer)};
    const PatchEntries patches = findPatchEntries(archive.get());
    ASSERT_EQ(patches.size(), 1u);
    ASSERT_EQ(patches.count(key), 1u);

    // The installed file is found below the data folder as the entry names it.
    const Descriptor root(open((*folder / "v1").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string failure;
    const Descriptor base =
        openPatchBase(root.fd, {"Game.app", "Contents", "Resources", "levels.pak"}, failure);
    ASSERT_TRUE(base.valid()) << failure;
    const fs::path output = *folder / "staged.pak";
    const Descriptor staged(open(output.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const std::unique_ptr<zip_file_t, EntryClose> entry(
        zip_fopen_index(archive.get(), patches.at(key), 0));
    ASSERT_TRUE(entry);
    const PatchOutcome outcome = applyZstdPatch(base.fd, entry.get(), staged.fd, newer.size());
    ASSERT_TRUE(outcome.applied()) << outcome.failure;
    EXPECT_EQ(outcome.sha256, key.resultSha256);
    EXPECT_EQ(outcome.bytes, newer.size());
    EXPECT_TRUE(readFile(output) == newer);

    // Against any other base the frame's checksum gives it away.
    writeFile(*folder / "other.pak", incompressibleBytes(kFileSize, 3));
    expectFailure("another file", patch, *folder / "other.pak");
    expectFailure("the new file itself", patch,
                  *folder / "v2/Game.app/Contents/Resources/levels.pak");
    writeFile(*folder / "empty.pak", "");
    expectFailure("an empty file", patch, *folder / "empty.pak");
    std::string edited = older;
    edited[edited.size() / 3] ^= 0x20;
    writeFile(*folder / "edited.pak", edited);
    expectFailure("the older file changed by hand", patch, *folder / "edited.pak");
}

TEST_F(PatchApply, ADamagedPatchNeverGivesAResult) {
    std::string flipped = patch;
    flipped[flipped.size() / 2] ^= 0x01;
    expectFailure("a flipped byte", flipped);
    expectFailure("cut in half", patch.substr(0, patch.size() / 2));
    expectFailure("cut before its checksum", patch.substr(0, patch.size() - 2));
    expectFailure("only part of its header", patch.substr(0, 5));
    expectFailure("empty", "");
    expectFailure("with bytes after it", patch + "trailing");
    expectFailure("twice", patch + patch);
    expectFailure("not zstd at all", std::string(4096, 'z'));
    expectFailure("a frame that does not say its size", zstdFrameAnnouncing(std::nullopt));
    // A frame that announces more than a patched file may be is refused before any room is
    // made for it.
    expectFailure("a frame of 3 GiB", zstdFrameAnnouncing(3ULL << 30));
}

TEST_F(PatchApply, AFrameIsHeldToTheSizeOfTheFileItMakes) {
    // Refused from the frame's header, before any room is made for the result: a small patch
    // announcing gigabytes would otherwise have them reserved and written.
    const std::string announces = "the patch's frame announces a result of ";
    struct Case {
        const char* what;
        std::string frame;
        std::uint64_t expectedBytes;
        std::string because;
    } cases[] = {
        {"a frame announcing 1 GiB", zstdFrameAnnouncing(1ULL << 30), newer.size(),
         announces + std::to_string(1ULL << 30) + " bytes, the file has " +
             std::to_string(newer.size())},
        {"a frame announcing the largest patched file", zstdFrameAnnouncing(largestPatchedFile),
         newer.size(), announces + std::to_string(largestPatchedFile) + " bytes"},
        {"a frame announcing less than the file", zstdFrameAnnouncing(4096), newer.size(),
         announces + "4096 bytes"},
        {"the release's patch for a file a byte longer", patch, newer.size() + 1,
         announces + std::to_string(newer.size()) + " bytes"},
        {"a frame that does not say its size", zstdFrameAnnouncing(std::nullopt), 4096,
         "does not give the size of its result"},
    };
    for (const Case& item : cases) {
        expectFailure(item.what, item.frame, *folder / "older.pak", item.expectedBytes,
                      item.because);
    }
}

TEST_F(PatchApply, AnOutputOpenForWritingOnlyIsRefused) {
    const Descriptor base(open((*folder / "older.pak").c_str(), O_RDONLY | O_CLOEXEC));
    const fs::path output = *folder / "write-only";
    const Descriptor staged(open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    std::size_t offset = 0;
    const PatchOutcome outcome = applyZstdPatch(
        base.fd,
        [&](void* buffer, std::size_t size, std::string&) {
            const std::size_t piece = std::min(size, patch.size() - offset);
            std::copy_n(patch.data() + offset, piece, static_cast<char*>(buffer));
            offset += piece;
            return static_cast<std::int64_t>(piece);
        },
        staged.fd, newer.size());
    EXPECT_FALSE(outcome.applied());
    EXPECT_NE(outcome.failure.find("reading and writing"), std::string::npos) << outcome.failure;
}

TEST_F(PatchApply, APatchDamagedInTheArchiveFailsThroughLibzip) {
    // The stored patch's bytes changed inside the archive file: libzip's CRC-32 check or the
    // decoder stops it.
    std::string archive = readFile(*folder / "v2.zip");
    const auto at = archive.find(patch);
    ASSERT_NE(at, std::string::npos);
    archive[at + patch.size() - 100] ^= 0x40;
    writeFile(*folder / "damaged.zip", archive);
    int code = 0;
    const std::unique_ptr<zip_t, ArchiveClose> opened(
        zip_open((*folder / "damaged.zip").c_str(), ZIP_RDONLY, &code));
    ASSERT_TRUE(opened);
    const PatchEntries patches = findPatchEntries(opened.get());
    ASSERT_EQ(patches.size(), 1u);
    const std::unique_ptr<zip_file_t, EntryClose> entry(
        zip_fopen_index(opened.get(), patches.begin()->second, 0));
    const Descriptor base(open((*folder / "older.pak").c_str(), O_RDONLY | O_CLOEXEC));
    const fs::path output = *folder / "from-damaged";
    const Descriptor staged(open(output.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const PatchOutcome outcome = applyZstdPatch(base.fd, entry.get(), staged.fd, newer.size());
    EXPECT_FALSE(outcome.applied());
    EXPECT_EQ(fs::file_size(output), 0u);
}

TEST_F(PatchApply, TheBaseIsOpenedWithoutFollowingLinks) {
    const fs::path root = *folder / "installed";
    fs::create_directories(root / "Game.app" / "Contents");
    writeFile(root / "Game.app" / "Contents" / "real.pak", older);
    fs::create_symlink("real.pak", root / "Game.app" / "Contents" / "link.pak");
    fs::create_directory_symlink("Contents", root / "Game.app" / "Linked");
    fs::create_directories(root / "Game.app" / "Contents" / "folder.pak");
    mkfifo((root / "Game.app" / "Contents" / "pipe.pak").c_str(), 0600);
    const Descriptor rootFolder(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string failure;
    EXPECT_TRUE(openPatchBase(rootFolder.fd, {"Game.app", "Contents", "real.pak"}, failure).valid())
        << failure;
    for (const std::vector<std::string>& components :
         {std::vector<std::string>{"Game.app", "Contents", "link.pak"},
          std::vector<std::string>{"Game.app", "Linked", "real.pak"},
          std::vector<std::string>{"Game.app", "Contents", "folder.pak"},
          std::vector<std::string>{"Game.app", "Contents", "pipe.pak"},
          std::vector<std::string>{"Game.app", "Contents", "missing.pak"},
          std::vector<std::string>{}}) {
        failure.clear();
        EXPECT_FALSE(openPatchBase(rootFolder.fd, components, failure).valid())
            << (components.empty() ? "(none)" : components.back());
        EXPECT_FALSE(failure.empty());
    }
}

TEST(PatchNames, OnlyTheNamesPackWritesAreTakenForPatches) {
    const std::string base(64, 'a');
    const std::string result(64, 'b');
    const std::string good = patchEntryName({base, result});
    EXPECT_EQ(good, ".launcher-patches/" + base + "-" + result + ".zst");
    const std::vector<std::string> names = {
        "Game.app/",
        ".launcher-patches/" + std::string(64, 'A') + "-" + result + ".zst", // upper-case hex
        ".Launcher-Patches/" + base + "-" + result + ".zst",                 // another case
        ".launcher-patches/" + base + "-" + result,                          // no suffix
        ".launcher-patches/" + base + "_" + result + ".zst",                 // no dash
        ".launcher-patches/" + base.substr(1) + "-" + result + "0.zst",      // hashes shifted
        "Game.app/.launcher-patches/" + base + "-" + result + ".zst",        // not at the top
        good,
        good}; // a second entry of the same name: the first counts
    const PatchEntries found = findPatchEntries(names);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.begin()->first, (PatchKey{base, result}));
    EXPECT_EQ(found.begin()->second, 7u);
}
