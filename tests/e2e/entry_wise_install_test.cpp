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

    // Release version announced by a manifest signed with a new key (once per test), with the
    // index hash of the archive as published; the launcher trusts that key.
    std::string announceSigned(const std::string& version, const std::string& archivePath,
                               int serial) {
        if (privateKey.empty()) {
            privateKey = sandbox.root / "release.pem";
            const ChildResult made =
                runChild(PUBLISH_TOOL, {"keygen", "--output", privateKey.string()});
            EXPECT_EQ(made.exitStatus, 0) << made.standardError;
            publicKey = made.standardOutput.substr(0, made.standardOutput.find('\n'));
        }
        const std::string installer = publishLauncherInstaller("1.0");
        runPublish({"manifest",
                    "--application-version",
                    version,
                    "--application-url",
                    server->url(archivePath),
                    "--executable-prefix",
                    "",
                    "--launcher-version",
                    "1.0",
                    "--launcher-url",
                    server->url(installer),
                    "--application-archive",
                    (releases / archivePath.substr(1)).string(),
                    "--launcher-archive",
                    (releases / installer.substr(1)).string(),
                    "--serial",
                    std::to_string(serial),
                    "--sign-with",
                    privateKey.string(),
                    "--output",
                    (releases / "LatestVersion.ini").string()});
        configure("1.0", "/LatestVersion.ini",
                  {{"releaseSigningPublicKey", "<string>" + publicKey + "</string>"}});
        return readFile(releases / "LatestVersion.ini");
    }

    // Replaces one entry of the published archive by Info-ZIP with the same file, one byte
    // changed: a well-formed entry with a right CRC-32, but not the bytes the index lists.
    void tamperWith(const std::string& archivePath, const std::string& name) {
        const fs::path work = staging / "tampered";
        fs::remove_all(work);
        fs::create_directories(work);
        const fs::path archive = releases / archivePath.substr(1);
        ASSERT_EQ(runChild("/usr/bin/unzip", {"-q", archive.string(), name, "-d", work.string()})
                      .exitStatus,
                  0);
        std::string bytes = readFile(work / name);
        bytes[bytes.size() / 2] ^= 0x01;
        writeBytes(work / name, bytes);
        const ChildResult zipped =
            runChild("/bin/sh", {"-c", "cd \"$1\" && /usr/bin/zip -q -0 \"$2\" \"$3\"", "sh",
                                 work.string(), archive.string(), name});
        ASSERT_EQ(zipped.exitStatus, 0) << zipped.standardError;
    }

    // Nothing of an unfinished unpack is left under the data folder.
    bool partialsLeft() const {
        for (const auto& item : fs::recursive_directory_iterator(dataFolder)) {
            if (item.path().filename().string().find(".partial") != std::string::npos &&
                item.path().filename() != "CurrentVersion.ini.partial") {
                return true;
            }
        }
        return false;
    }

    fs::path privateKey;
    std::string publicKey;
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

TEST_F(EntryWiseInstall, WithAKeyATamperedEntryOrAMissingIndexIsRefusedAndNothingOfItPutInPlace) {
    SKIP_WITHOUT_DISPLAY();
    // A first install whose asset was changed on the server: the file never appears.
    const std::string first = publishWithAssets("1.0");
    announceSigned("1.0", first, 1);
    tamperWith(first, assetPath(7));
    const ChildResult tampered = runLauncher();
    EXPECT_EQ(tampered.exitStatus, 1) << tampered.standardError;
    EXPECT_TRUE(lastRunHas("unzip: entry '" + assetPath(7) + "' of " + dataFolder.string() + "/" +
                           displayName +
                           ".zip not unpacked: its SHA-256 differs from the release index's"));
    EXPECT_TRUE(lastRunHas("failed to unzip file"));
    EXPECT_FALSE(fs::exists(dataFolder / assetPath(7)));
    EXPECT_FALSE(partialsLeft());
    EXPECT_TRUE(gameStarts(1).empty());

    // Published again as signed, it installs.
    announceSigned("1.0", publishWithAssets("1.0"), 1);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    const std::string oldAsset = readFile(dataFolder / assetPath(7));
    started.stopAll();

    // An update whose changed asset was changed again on the way: the old bytes stay.
    const std::string second = publishWithAssets("2.0", {7});
    announceSigned("2.0", second, 2);
    tamperWith(second, assetPath(7));
    EXPECT_EQ(runLauncher().exitStatus, 1);
    EXPECT_TRUE(lastRunMentions(assetPath(7) + "' of " + dataFolder.string() + "/" + displayName +
                                ".zip not unpacked: its SHA-256 differs from the release index's"));
    EXPECT_EQ(readFile(dataFolder / assetPath(7)), oldAsset);
    EXPECT_FALSE(partialsLeft());
    EXPECT_EQ(gameStarts(2).size(), 1u);

    // An archive that lost its index is refused before any entry is fetched.
    announceSigned("2.0", publishWithAssets("2.0", {7}), 2);
    ASSERT_EQ(runChild("/usr/bin/zip",
                       {"-q", "-d", (releases / second.substr(1)).string(), "ReleaseIndex.sha256"})
                  .exitStatus,
              0);
    EXPECT_EQ(runLauncher().exitStatus, 1);
    EXPECT_TRUE(
        lastRunHas("Archive refused, it holds no ReleaseIndex.sha256: " + server->url(second)));
    EXPECT_FALSE(lastRunMentions("fetching the whole archive"));
    EXPECT_EQ(readFile(dataFolder / assetPath(7)), oldAsset);
    EXPECT_EQ(gameStarts(2).size(), 1u);
}
