#pragma once
// Releases made by launcher-publish from the sample game and a few hundred KiB of assets, served
// by nginx, for the tests of installs that fetch only what is missing or changed.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/temp_folder.h"

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

constexpr int assetCount = 24;
constexpr std::size_t assetBytes = 24 * 1024;

inline std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

// Every file and link below root by relative path, with its contents (a link: "@" + target).
inline std::map<std::string, std::string> treeOf(const std::filesystem::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = std::filesystem::relative(item.path(), root).string();
        if (item.is_symlink()) {
            tree[name] = "@" + std::filesystem::read_symlink(item.path()).string();
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
        const std::filesystem::path folder = staging / ("game-" + version);
        runPublish({"bundle", "--executable", SAMPLE_GAME, "--name", displayName, "--version",
                    version, "--prefix", "", "--output-folder", folder.string(), "--replace"});
        const std::filesystem::path assets =
            folder / gameBundleName() / "Contents" / "Resources" / "Assets";
        std::filesystem::create_directories(assets);
        for (int n = 0; n < assetCount; ++n) {
            writeFile(assets / ("asset" + std::to_string(n) + ".dat"),
                      randomBytes(assetSize, changed.count(n) ? 1000 + n : n));
        }
        if (!extra.empty()) {
            writeFile(assets / extra, "only in " + version);
        }
        if (bigAssetSize > 0) {
            writeFile(assets / "big.dat", randomBytes(bigAssetSize, bigAssetSeed));
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
        const std::filesystem::path into = staging / ("unzipped" + archivePath);
        std::filesystem::create_directories(into);
        const ChildResult unzip =
            runChild("/usr/bin/unzip", {"-q", "-o", (releases / archivePath.substr(1)).string(),
                                        "-d", into.string()});
        EXPECT_EQ(unzip.exitStatus, 0) << unzip.standardError;
        return treeOf(into);
    }

    std::map<std::string, std::string> installedTree() const {
        auto tree = treeOf(dataFolder);
        for (const char* record :
             {"out.log", "CurrentVersion.ini", "launcher.lock", ".launcher-installed-files"}) {
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
            privateKey = newSigningKey("release.pem", publicKey);
        }
        const std::string installer = publishLauncherInstaller("1.0");
        const std::string manifest =
            publishSignedManifest(version, archivePath, "1.0", installer, serial, privateKey);
        configure("1.0", "/LatestVersion.ini",
                  {{"releaseSigningPublicKey", "<string>" + publicKey + "</string>"}});
        return manifest;
    }

    // One entry of the published archive, as Info-ZIP unpacks it.
    std::string entryBytes(const std::string& archivePath, const std::string& name) {
        const ChildResult unzip =
            runChild("/usr/bin/unzip", {"-p", (releases / archivePath.substr(1)).string(), name});
        EXPECT_EQ(unzip.exitStatus, 0) << unzip.standardError;
        return unzip.standardOutput;
    }

    // Replaces one entry of the published archive by Info-ZIP with a file of bytes, stored.
    void replaceEntry(const std::string& archivePath, const std::string& name,
                      const std::string& bytes) {
        const std::filesystem::path work = staging / "replaced";
        std::filesystem::remove_all(work);
        writeFile(work / name, bytes);
        const ChildResult zipped =
            runChild("/bin/sh", {"-c", "cd \"$1\" && /usr/bin/zip -q -0 \"$2\" \"$3\"", "sh",
                                 work.string(), (releases / archivePath.substr(1)).string(), name});
        ASSERT_EQ(zipped.exitStatus, 0) << zipped.standardError;
    }

    // Replaces one entry of the published archive with the same file, one byte changed: a
    // well-formed entry with a right CRC-32, but not the bytes the index lists.
    void tamperWith(const std::string& archivePath, const std::string& name) {
        std::string bytes = entryBytes(archivePath, name);
        ASSERT_FALSE(bytes.empty());
        bytes[bytes.size() / 2] ^= 0x01;
        replaceEntry(archivePath, name, bytes);
    }

    // The data folder as on a machine that never ran the game.
    void forgetTheInstall() {
        std::filesystem::remove_all(dataFolder / gameBundleName());
        std::filesystem::remove(dataFolder / "CurrentVersion.ini");
        std::filesystem::remove(dataFolder / ".launcher-installed-files");
    }

    // version installed from archivePath on a machine that never ran the game, and its game
    // started as the run-th start of the test.
    void installAfresh(const std::string& version, const std::string& archivePath,
                       std::size_t run) {
        forgetTheInstall();
        announce(version, archivePath);
        ASSERT_EQ(runLauncher().exitStatus, 0);
        ASSERT_EQ(gameStarts(run).size(), run);
        started.stopAll();
    }

    // Nothing of an unfinished unpack is left under the data folder.
    bool partialsLeft() const {
        for (const auto& item : std::filesystem::recursive_directory_iterator(dataFolder)) {
            if (item.path().filename().string().find(".partial") != std::string::npos &&
                item.path().filename() != "CurrentVersion.ini.partial") {
                return true;
            }
        }
        return false;
    }

    // Bytes of each asset file.
    std::size_t assetSize = assetBytes;
    // Bytes of one more asset, Assets/big.dat (none when 0): random, so pack stores it.
    std::size_t bigAssetSize = 0;
    static constexpr unsigned bigAssetSeed = 4242;
    std::filesystem::path privateKey;
    std::string publicKey;
};
