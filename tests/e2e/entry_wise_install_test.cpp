// Installs that fetch only what is missing or changed, by range requests to nginx, with releases
// made by launcher-publish from the sample game and a few hundred KiB of assets.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/temp_folder.h"

#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr int assetCount = 24;
constexpr std::size_t assetBytes = 24 * 1024;

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

// Every file and link below root by relative path, with its contents (a link: "@" + target).
std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(item.path(), root).string();
        if (item.is_symlink()) {
            tree[name] = "@" + fs::read_symlink(item.path()).string();
        } else if (item.is_regular_file()) {
            tree[name] = readFile(item.path());
        }
    }
    return tree;
}

class EntryWiseInstall : public AcceptanceTest {
  protected:
    // The sample game at version with its assets; changed names the asset seeds that differ
    // from release 1's, extra adds a file only this release has.
    std::string publishWithAssets(const std::string& version, const std::set<int>& changed = {},
                                  const std::string& extra = "") {
        const fs::path folder = staging / ("game-" + version);
        runPublish({"bundle", "--executable", SAMPLE_GAME, "--name", displayName, "--version",
                    version, "--prefix", "", "--output-folder", folder.string(), "--replace"});
        const fs::path assets = folder / gameBundleName() / "Contents" / "Resources" / "Assets";
        fs::create_directories(assets);
        for (int n = 0; n < assetCount; ++n) {
            writeBytes(assets / ("asset" + std::to_string(n) + ".dat"),
                       randomBytes(assetBytes, changed.count(n) ? 1000 + n : n));
        }
        if (!extra.empty()) {
            writeBytes(assets / extra, "only in " + version);
        }
        const std::string archive = "game-" + version + ".zip";
        runPublish({"pack", (folder / gameBundleName()).string(), "--output",
                    (releases / archive).string()});
        return "/" + archive;
    }

    std::string announce(const std::string& version, const std::string& archivePath) {
        const std::string manifest = publishManifest(version, archivePath, "", "1.0");
        configure("1.0", "/LatestVersion.ini");
        return manifest;
    }

    // What Info-ZIP unpacks from the archive, for comparison.
    std::map<std::string, std::string> plainUnpack(const std::string& archivePath) {
        const fs::path into = staging / ("unzipped" + archivePath);
        fs::create_directories(into);
        const ChildResult unzip =
            runChild("/usr/bin/unzip", {"-q", "-o", (releases / archivePath.substr(1)).string(),
                                        "-d", into.string()});
        EXPECT_EQ(unzip.exitStatus, 0) << unzip.standardError;
        return treeOf(into);
    }

    std::map<std::string, std::string> installedTree() const {
        auto tree = treeOf(dataFolder);
        for (const char* record : {"out.log", "CurrentVersion.ini", "launcher.lock"}) {
            tree.erase(record);
        }
        return tree;
    }

    std::string assetPath(int n) const {
        return gameBundleName() + "/Contents/Resources/Assets/asset" + std::to_string(n) + ".dat";
    }

    std::uintmax_t compressedSizeOf(const std::string& archivePath, const std::string& name) {
        const ChildResult listing =
            runChild("/usr/bin/unzip", {"-v", (releases / archivePath.substr(1)).string(), name});
        // "  Length  Method    Size  Cmpr ..." then one line per entry: length, method, size.
        std::istringstream lines(listing.standardOutput);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.find(name) != std::string::npos &&
                line.find("Archive:") == std::string::npos) {
                std::istringstream fields(line);
                std::uintmax_t length = 0;
                std::string method;
                std::uintmax_t size = 0;
                fields >> length >> method >> size;
                return size;
            }
        }
        return 0;
    }
};

} // namespace

TEST_F(EntryWiseInstall, AnUpdateFetchesTheChangedFileAndKeepsWhatOnlyTheOldReleaseHad) {
    SKIP_WITHOUT_DISPLAY();
    const std::string first = publishWithAssets("1.0", {}, "old-only.txt");
    announce("1.0", first);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(requestsFor("GET " + first + " 200"), 0);
    EXPECT_TRUE(lastRunMentions("entry-wise install of " + server->url(first) + ": fetching "));
    auto expected = plainUnpack(first);
    EXPECT_EQ(installedTree(), expected);
    // A first install streams all of the archive, not much more.
    EXPECT_LE(server->bytesSent(first),
              static_cast<long long>(fs::file_size(releases / first.substr(1))) * 11 / 10);
    started.stopAll();

    const std::string second = publishWithAssets("2.0", {7});
    const std::string manifest = announce("2.0", second);
    const ChildResult updated = runLauncher();
    EXPECT_EQ(updated.exitStatus, 0) << updated.standardError;
    const auto starts = gameStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].version, "2.0");
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), manifest);
    EXPECT_TRUE(lastRunHas("performToFileCurlAndExecute start - url:" + server->url(second) +
                           " downloadToFilePath:" + dataFolder.string() + "/ downloadToFileName:" +
                           displayName + ".zip downloadedExecutableToRun:" + gameBundleName()));
    const std::string oldOnly = gameBundleName() + "/Contents/Resources/Assets/old-only.txt";
    auto updatedExpected = plainUnpack(second);
    updatedExpected[oldOnly] = "only in 1.0";
    EXPECT_EQ(installedTree(), updatedExpected);
    // The changed asset, the changed Info.plist and index, and the reads that parse the archive;
    // the archive holds about 850 KiB.
    const long long sent = server->bytesSent(second);
    const auto changedBytes = compressedSizeOf(second, assetPath(7));
    EXPECT_GT(changedBytes, assetBytes / 2);
    EXPECT_LE(sent, static_cast<long long>(changedBytes + 96 * 1024)) << sent;
    started.stopAll();

    // A file changed and one deleted by hand are fetched again by the next update.
    writeBytes(dataFolder / assetPath(3), "changed by hand");
    fs::remove(dataFolder / assetPath(5));
    const std::string third = publishWithAssets("3.0", {7});
    announce("3.0", third);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(3).size(), 3u);
    auto thirdExpected = plainUnpack(third);
    thirdExpected[oldOnly] = "only in 1.0";
    EXPECT_EQ(installedTree(), thirdExpected);
}

TEST_F(EntryWiseInstall, AServerWithoutRangesARedirectAndAnErrorPageTakeTheWholeArchive) {
    SKIP_WITHOUT_DISPLAY();
    serve({.extraDirectives = "        max_ranges 0;\n"
                              "        location = /moved.zip { return 302 /game-1.0.zip; }\n"});
    const std::string archive = publishWithAssets("1.0");
    announce("1.0", archive);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_TRUE(lastRunHas("entry-wise install of " + server->url(archive) +
                           " not possible, fetching the whole archive: the server answered a "
                           "range request with status 200 instead of 206"));
    EXPECT_EQ(requestsFor("GET " + archive + " 200"), 2);
    EXPECT_EQ(installedTree(), plainUnpack(archive));
    started.stopAll();

    // A redirect is not followed: the whole-archive road saves the page and cannot unpack it.
    announce("2.0", "/moved.zip");
    EXPECT_EQ(runLauncher().exitStatus, 1);
    EXPECT_TRUE(lastRunHas("entry-wise install of " + server->url("/moved.zip") +
                           " not possible, fetching the whole archive: the server answered a "
                           "range request with status 302 instead of 206"));
    EXPECT_TRUE(lastRunHas("failed to unzip file"));

    // So is an error page.
    announce("2.0", "/missing.zip");
    EXPECT_EQ(runLauncher().exitStatus, 1);
    EXPECT_TRUE(lastRunHas("entry-wise install of " + server->url("/missing.zip") +
                           " not possible, fetching the whole archive: the server answered a "
                           "range request with status 404 instead of 206"));
    EXPECT_TRUE(lastRunHas("failed to unzip file"));
}
