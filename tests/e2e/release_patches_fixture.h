#pragma once
// Releases whose big packed file changes a little from one to the next, packed by
// launcher-publish pack --patch-from and served by nginx, for the tests of updates by patches.
#include "tests/e2e/entry_wise_fixture.h"

#include "update/release/sha256_stream.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <vector>

class ReleasePatchesInstall : public EntryWiseInstall {
  protected:
    // The sample game at version with a big packed file, packed with patches from the older
    // releases' archives (URL paths) given, into archiveName (game-<version>.zip when empty).
    std::string publishWithPack(const std::string& version, const std::string& pack,
                                const std::vector<std::string>& patchFrom = {},
                                std::string archive = "") {
        const std::filesystem::path folder = staging / ("game-" + version);
        runPublish({"bundle", "--executable", SAMPLE_GAME, "--name", displayName, "--version",
                    version, "--prefix", "", "--output-folder", folder.string(), "--replace"});
        writeFile(folder / gameBundleName() / levelsPath, pack);
        if (archive.empty()) {
            archive = "game-" + version + ".zip";
        }
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
        std::uintmax_t total = 0;
        for (const std::string& name : patchNames(archivePath)) {
            total += compressedSizeOf(archivePath, name);
        }
        return total;
    }

    std::vector<std::string> patchNames(const std::string& archivePath) {
        const ChildResult listing =
            runChild("/usr/bin/unzip", {"-Z1", (releases / archivePath.substr(1)).string()});
        std::vector<std::string> names;
        std::istringstream lines(listing.standardOutput);
        for (std::string name; std::getline(lines, name);) {
            if (name.rfind(".launcher-patches/", 0) == 0) {
                names.push_back(name);
            }
        }
        return names;
    }

    // What Info-ZIP unpacks from the archive but for its patches.
    std::map<std::string, std::string> releaseTree(const std::string& archivePath) {
        auto tree = plainUnpack(archivePath);
        std::erase_if(
            tree, [](const auto& item) { return item.first.rfind(".launcher-patches/", 0) == 0; });
        return tree;
    }

    // Body bytes nginx sent so far, for every request.
    long long sentInAll() const {
        long long total = 0;
        for (const std::string& line : server->requests()) {
            total += std::stoll(line.substr(line.rfind(' ') + 1));
        }
        return total;
    }

    // Lines of the last run that say an entry came whole after all.
    std::size_t fetchedWholeLines() const {
        return static_cast<std::size_t>(
            std::count_if(lastRun().begin(), lastRun().end(), [](const std::string& line) {
                return line.find(" whole: ") != std::string::npos;
            }));
    }

    std::string levelsName() const { return gameBundleName() + "/" + levelsPath; }

    // The release's patch replaced by bytes and listed in its index with their hash: what the
    // server of an unsigned release may hand out.
    void replacePatch(const std::string& archivePath, const std::string& patchName,
                      const std::string& bytes) {
        replaceEntry(archivePath, patchName, bytes);
        std::string index = entryBytes(archivePath, "ReleaseIndex.sha256");
        const std::size_t at = index.find("  " + patchName + "\n");
        ASSERT_NE(at, std::string::npos);
        ASSERT_GE(at, 64u);
        index.replace(at - 64, 64, sha256Hex(bytes));
        replaceEntry(archivePath, "ReleaseIndex.sha256", index);
    }

    // runLauncher with no file of the launcher's (or what it starts) allowed past limit bytes:
    // the system refuses to reserve or write beyond it and stops the process that tries.
    ChildResult runLauncherWritingAtMost(std::uint64_t limit) {
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit limited = before;
        limited.rlim_cur = std::min<rlim_t>(limit, before.rlim_max);
        setrlimit(RLIMIT_FSIZE, &limited);
        const ChildResult result = runLauncher();
        setrlimit(RLIMIT_FSIZE, &before);
        return result;
    }

    const std::string levelsPath = "Contents/Resources/levels.pak";
};

// Megabytes that no compressor shrinks.
inline std::string packedLevels(unsigned seed, std::size_t size = 8 << 20) {
    return randomBytes(size, seed);
}

// 1 % of data rewritten in one run at where (a share of the size), and a few bytes inserted
// near the start, which shifts everything after them.
inline std::string onePercentChanged(std::string data, unsigned seed, double where = 0.5) {
    const std::string run = randomBytes(data.size() / 100, seed);
    std::copy(run.begin(), run.end(), data.begin() + static_cast<long>(data.size() * where));
    data.insert(4096, "a few bytes inserted");
    return data;
}
