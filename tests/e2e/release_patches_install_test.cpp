// A release that carries patches, installed entry-wise from nginx: the patches stay on the
// server, and none lands in the data folder.
#include "tests/e2e/entry_wise_fixture.h"

namespace fs = std::filesystem;

namespace {

class ReleasePatchesInstall : public EntryWiseInstall {
  protected:
    // The sample game at version with a big packed file, packed with patches from the older
    // releases' archives (URL paths) given.
    std::string publishWithPack(const std::string& version, const std::string& pack,
                                const std::vector<std::string>& patchFrom = {}) {
        const fs::path folder = staging / ("game-" + version);
        runPublish({"bundle", "--executable", SAMPLE_GAME, "--name", displayName, "--version",
                    version, "--prefix", "", "--output-folder", folder.string(), "--replace"});
        writeFile(folder / gameBundleName() / "Contents/Resources/levels.pak", pack);
        const std::string archive = "game-" + version + ".zip";
        std::vector<std::string> arguments = {"pack", (folder / gameBundleName()).string(),
                                              "--output", (releases / archive).string()};
        for (const std::string& older : patchFrom) {
            arguments.insert(arguments.end(),
                             {"--patch-from", (releases / older.substr(1)).string()});
        }
        runPublish(arguments);
        return "/" + archive;
    }

    // The release's entries below the patch folder, with their stored sizes summed.
    std::uintmax_t patchBytes(const std::string& archivePath) {
        const ChildResult listing =
            runChild("/usr/bin/unzip", {"-Z1", (releases / archivePath.substr(1)).string()});
        std::uintmax_t total = 0;
        std::istringstream names(listing.standardOutput);
        std::string name;
        while (std::getline(names, name)) {
            if (name.rfind(".launcher-patches/", 0) == 0) {
                total += compressedSizeOf(archivePath, name);
            }
        }
        return total;
    }
};

// 8 MiB that no compressor shrinks, with 4 % of it rewritten in the second release: a patch of
// a few hundred KiB, well beyond the 64 KiB tail that is read to parse the archive.
std::string packedLevels(unsigned seed) {
    return randomBytes(8 << 20, seed);
}

std::string rewritten(std::string data) {
    const std::string run = randomBytes(data.size() / 25, 99);
    std::copy(run.begin(), run.end(), data.begin() + static_cast<long>(data.size() / 2));
    return data;
}

} // namespace

TEST_F(ReleasePatchesInstall, AnUpdateNeitherFetchesNorWritesThePatches) {
    SKIP_WITHOUT_DISPLAY();
    const std::string levels = packedLevels(5);
    const std::string first = publishWithPack("1.0", levels);
    announce("1.0", first);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    started.stopAll();

    const std::string second = publishWithPack("2.0", rewritten(levels), {first});
    const std::uintmax_t patches = patchBytes(second);
    ASSERT_GT(patches, 128u * 1024);
    announce("2.0", second);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(2).size(), 2u);
    auto expected = plainUnpack(second);
    for (auto it = expected.begin(); it != expected.end();) {
        it = it->first.rfind(".launcher-patches/", 0) == 0 ? expected.erase(it) : std::next(it);
    }
    EXPECT_TRUE(installedTree() == expected); // not printed: megabytes
    EXPECT_FALSE(fs::exists(dataFolder / ".launcher-patches"));
    // Until updates apply patches, the changed file comes whole: its entry, the changed
    // Info.plist and index, and the reads that parse the archive; never the patch besides.
    const long long sent = server->bytesSent(second);
    const auto whole =
        compressedSizeOf(second, gameBundleName() + "/Contents/Resources/levels.pak");
    EXPECT_LE(sent, static_cast<long long>(whole + 96 * 1024)) << sent;
    started.stopAll();

    // A first install on another machine streams the release but for its patches.
    fs::remove_all(dataFolder / gameBundleName());
    fs::remove(dataFolder / "CurrentVersion.ini");
    const long long before = server->bytesSent(second);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(3).size(), 3u);
    EXPECT_TRUE(installedTree() == expected); // not printed: megabytes
    const auto archiveSize = fs::file_size(releases / second.substr(1));
    EXPECT_LE(server->bytesSent(second) - before,
              static_cast<long long>(archiveSize - patches + 96 * 1024));
}
