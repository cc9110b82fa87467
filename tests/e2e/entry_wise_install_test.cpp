// Installs that fetch only what is missing or changed, by range requests to nginx, with releases
// made by launcher-publish from the sample game and a few hundred KiB of assets.
#include "tests/e2e/entry_wise_fixture.h"
#include "update/release/sha256_stream.h"

#include <sys/stat.h>

#include <functional>

namespace fs = std::filesystem;

TEST_F(EntryWiseInstall, AnUpdateFetchesTheChangedFileAndDropsWhatOnlyTheOldReleaseHad) {
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
    // A file that only the old release shipped goes with it.
    const auto updatedExpected = plainUnpack(second);
    EXPECT_EQ(installedTree(), updatedExpected);
    EXPECT_FALSE(fs::exists(dataFolder / oldOnly));
    // The changed asset, the changed Info.plist and index, and the reads that parse the archive;
    // the archive holds about 850 KiB.
    const long long sent = server->bytesSent(second);
    const auto changedBytes = compressedSizeOf(second, assetPath(7));
    EXPECT_GT(changedBytes, assetBytes / 2);
    EXPECT_LE(sent, static_cast<long long>(changedBytes + 96 * 1024)) << sent;
    started.stopAll();

    // A file changed and one deleted by hand are fetched again by the next update.
    writeFile(dataFolder / assetPath(3), "changed by hand");
    fs::remove(dataFolder / assetPath(5));
    const std::string third = publishWithAssets("3.0", {7});
    announce("3.0", third);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(3).size(), 3u);
    EXPECT_EQ(installedTree(), plainUnpack(third));
}

// The longest time that any two of requests, on different connections, were in flight together.
double longestOverlap(const std::vector<NginxServer::RangeRequest>& requests) {
    double longest = 0;
    for (const auto& one : requests) {
        for (const auto& other : requests) {
            if (one.connection != other.connection) {
                longest = std::max(longest, std::min(one.ended, other.ended) -
                                                std::max(one.started, other.started));
            }
        }
    }
    return longest;
}

TEST_F(EntryWiseInstall, OverFourConnectionsRunsAreFetchedAtOnceAndUnpackAsInfoZipDoes) {
    SKIP_WITHOUT_DISPLAY();
    // Slow enough that the requests are in flight together however busy the machine is.
    serve({false, "limit_rate 96k;"});
    const PlistEntries four = {{"contentTransferConnections", "<integer>4</integer>"}};
    const struct {
        const char* version;
        std::set<int> changed;
        std::size_t connections; // at least, carrying range requests for the archive
        // An update's runs of a few KiB each leave in one write whatever the rate limit.
        bool overlapping;
    } releasesInTurn[] = {{"1.0", {}, 4, true}, {"2.0", {2, 13, 21}, 2, false}};
    std::size_t run = 0;
    for (const auto& release : releasesInTurn) {
        const std::string archive = publishWithAssets(release.version, release.changed);
        publishManifest(release.version, archive, "", "1.0");
        configure("1.0", "/LatestVersion.ini", four);
        const ChildResult result = runLauncher();
        ASSERT_EQ(result.exitStatus, 0) << testing::PrintToString(lastRun());
        ASSERT_EQ(gameStarts(++run).size(), run);
        EXPECT_EQ(installedTree(), plainUnpack(archive)) << release.version;
        const auto requests = server->rangeRequests(archive);
        std::set<long> connections;
        for (const auto& request : requests) {
            connections.insert(request.connection);
        }
        EXPECT_GE(connections.size(), release.connections) << release.version;
        if (release.overlapping) {
            EXPECT_GT(longestOverlap(requests), 0.2);
        }
        started.stopAll();
    }
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
    // So is an error page.
    for (const auto& [path, status] : {std::pair{"/moved.zip", "302"}, {"/missing.zip", "404"}}) {
        announce("2.0", path);
        EXPECT_EQ(runLauncher().exitStatus, 1) << path;
        EXPECT_TRUE(lastRunHas("entry-wise install of " + server->url(path) +
                               " not possible, fetching the whole archive: the server answered a "
                               "range request with status " +
                               status + " instead of 206"))
            << path;
        EXPECT_TRUE(lastRunHas("failed to unzip file")) << path;
    }
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
    auto wholeFirst = installedTree();
    wholeFirst.erase("HighestManifestSerial"); // the signed update raises it, as it should
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
    // Refused half way through staging: 1.0 whole and recorded, and nothing staged left that a
    // later run would take for this release's.
    auto afterRefusal = installedTree();
    afterRefusal.erase("HighestManifestSerial");
    EXPECT_EQ(afterRefusal, wholeFirst);
    EXPECT_FALSE(fs::exists(dataFolder / ".launcher-staging"));
    EXPECT_NE(readFile(dataFolder / "CurrentVersion.ini").find("ApplicationVersion=1.0\n"),
              std::string::npos);

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

// A hotfix republished under the same ApplicationVersion reaches the players: the manifest's
// release index differs from the installed one's. A manifest without the index compares
// versions only, as before.
TEST_F(EntryWiseInstall, ARepublishUnderTheSameVersionInstallsWhenItsIndexDiffers) {
    SKIP_WITHOUT_DISPLAY();
    const auto indexOf = [](const std::string& manifest) {
        const std::string key = "\nApplicationIndexSha256=";
        const std::size_t at = manifest.find(key);
        return at == std::string::npos ? std::string() : manifest.substr(at + key.size(), 64);
    };
    const std::string installedIndex = indexOf(announceSigned("1.0", publishWithAssets("1.0"), 1));
    ASSERT_EQ(installedIndex.size(), 64u);
    // The game without the serial record a signed release keeps beside it.
    const auto gameTree = [this] {
        auto tree = installedTree();
        tree.erase("HighestManifestSerial");
        return tree;
    };
    ASSERT_EQ(runLauncher().exitStatus, 0);
    started.stopAll();

    const std::string hotfix = publishWithAssets("1.0", {3});
    const std::string manifest = announceSigned("1.0", hotfix, 2);
    const ChildResult updated = runLauncher();
    EXPECT_EQ(updated.exitStatus, 0) << updated.standardError;
    EXPECT_TRUE(lastRunHasInOrder("Current release index:" + installedIndex +
                                      " is different than latest:" + indexOf(manifest),
                                  "Starting content installer..."));
    EXPECT_TRUE(gameTree() == plainUnpack(hotfix)) << "the hotfix installed";
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), manifest);
    ASSERT_EQ(gameStarts(2).size(), 2u);
    started.stopAll();

    // Current now: started at once. Then a republish whose manifest names no index.
    struct Run {
        const char* what;
        std::function<std::string()> publish;
    };
    const std::vector<Run> runs{{"the same manifest again", [&] { return manifest; }},
                                {"a manifest without the index", [this] {
                                     return announce("1.0", publishWithAssets("1.0", {4}));
                                 }}};
    std::size_t starts = 2;
    for (const Run& run : runs) {
        SCOPED_TRACE(run.what);
        run.publish();
        const auto before = gameTree();
        EXPECT_EQ(runLauncher().exitStatus, 0);
        EXPECT_FALSE(lastRunMentions("Starting content installer"));
        EXPECT_TRUE(gameTree() == before) << "nothing installed";
        ASSERT_EQ(gameStarts(++starts).size(), starts);
        started.stopAll();

    }
}

TEST_F(EntryWiseInstall, APipeAtAStagedOrInstalledFileIsReplacedWithoutBeingWaitedOn) {
    SKIP_WITHOUT_DISPLAY();
    // Opened for reading, a pipe waits for a writer that never comes; the launcher would hang
    // there with its lock held, and every later run behind it.
    const fs::path stagingFolder = dataFolder / ".launcher-staging";
    const fs::path installed = dataFolder / assetPath(7);
    const struct {
        const char* what;
        fs::path pipe;
        bool interruptedRun; // a staging folder left for the same release, asset 3 staged
        // The run's last line when it ends refused, as for any record it cannot read; none: the
        // update installs and a regular file stands in the pipe's place.
        std::string refusal;
    } cases[] = {
        {"a pipe at a file staged by an interrupted run of the same release",
         stagingFolder / "tree" / assetPath(7), true, ""},
        {"a pipe at an installed file that the update changes", installed, false, ""},
        {"a pipe at the record of the installed version", dataFolder / "CurrentVersion.ini", false,
         "Can't load CurrentVersion.ini from '" + dataFolder.string() + "'"},
    };
    const std::string first = publishWithAssets("1.0");
    const std::string second = publishWithAssets("2.0", {3, 7});
    const auto expected = plainUnpack(second);
    const fs::path unpacked = staging / ("unzipped" + second);
    std::size_t runs = 0;
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        installAfresh("1.0", first, ++runs);
        ASSERT_FALSE(HasFatalFailure());

        if (item.interruptedRun) {
            writeFile(stagingFolder / "release",
                      sha256Hex(entryBytes(second, "ReleaseIndex.sha256")) + "\n" +
                          std::to_string(fs::file_size(releases / second.substr(1))) + "\n");
            fs::create_directories(item.pipe.parent_path());
            fs::copy_file(unpacked / assetPath(3), stagingFolder / "tree" / assetPath(3));
        }
        fs::remove(item.pipe);
        ASSERT_EQ(mkfifo(item.pipe.c_str(), 0644), 0);
        announce("2.0", second);
        const ChildResult updated = runLauncher();
        if (!item.refusal.empty()) {
            EXPECT_EQ(updated.exitStatus, 1) << "the launcher finishes";
            ASSERT_FALSE(lastRun().empty());
            EXPECT_EQ(lastRun().back(), item.refusal);
            fs::remove(item.pipe);
            continue;
        }
        ASSERT_EQ(updated.exitStatus, 0) << "the launcher finishes: " << updated.standardError;
        ASSERT_EQ(gameStarts(++runs).size(), runs);
        started.stopAll();
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(installed)));
        EXPECT_EQ(installedTree(), expected);
        EXPECT_FALSE(fs::exists(stagingFolder));
    }
}
