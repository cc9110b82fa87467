// A launcher with releaseSigningPublicKey in its config.plist, end to end against nginx: it
// installs, updates and starts only what the key signed, and one without a key takes signed
// releases like any other.
#include "tests/e2e/signed_release_fixture.h"
#include "tests/support/temp_folder.h"

#include <fstream>

namespace fs = std::filesystem;

namespace {

// Flips one byte in the middle of a file, as a network attacker would change it.
void changeOneByte(const fs::path& path) {
    std::string bytes = readFile(path);
    bytes[bytes.size() / 2] ^= 0x01;
    writeFile(path, bytes);
}

} // namespace

TEST_F(SignedReleases, ASignedReleaseInstallsStartsAndUpdates) {
    SKIP_WITHOUT_DISPLAY();
    const std::string first = signedRelease("1.0", 1);
    configureKey(publicKey);
    const ChildResult installed = runLauncher();
    EXPECT_EQ(installed.exitStatus, 0) << installed.standardError;
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_FALSE(lastRunMentions("refused"));
    // The record is the manifest as served, signature line and all.
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), first);
    EXPECT_TRUE(fs::is_regular_file(dataFolder / "ReleaseIndex.sha256"));
    started.stopAll();

    const ChildResult current = runLauncher();
    EXPECT_EQ(current.exitStatus, 0) << current.standardError;
    ASSERT_EQ(gameStarts(2).size(), 2u);
    started.stopAll();

    const std::string second = signedRelease("2.0", 2);
    const ChildResult updated = runLauncher();
    EXPECT_EQ(updated.exitStatus, 0) << updated.standardError;
    const auto starts = gameStarts(3);
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[2].version, "2.0");
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), second);
}

TEST_F(SignedReleases, AChangedOrUnsignedManifestIsRefusedBeforeAnythingIsFetched) {
    const std::string text = signedRelease("1.0", 1);
    configureKey(publicKey);
    const std::size_t signatureLine = text.rfind("ManifestSignature=");

    std::string changed = text;
    changed[text.find("ApplicationVersion=1.0") + 19] = '2'; // 1.0 -> 2.0
    writeFile(manifestPath(), changed);
    expectRefused("the signature does not verify with releaseSigningPublicKey");

    // The signature line moved up: the signed bytes are all still there, but it is not last.
    const std::string line = text.substr(signatureLine);
    writeFile(manifestPath(), line + text.substr(0, signatureLine));
    expectRefused("the last line is not a ManifestSignature line");

    writeFile(manifestPath(), text.substr(0, signatureLine));
    expectRefused("the last line is not a ManifestSignature line");

    std::string otherPublicKey;
    const fs::path otherKey = newKey("other.pem", &otherPublicKey);
    writeFile(manifestPath(), text);
    runPublish({"sign", "--key", otherKey.string(), manifestPath().string()});
    expectRefused("the signature does not verify with releaseSigningPublicKey");
}

TEST_F(SignedReleases, AnOlderSerialThanTheInstalledOneIsRefused) {
    SKIP_WITHOUT_DISPLAY();
    signedRelease("1.0", 5);
    configureKey(publicKey);
    ASSERT_EQ(runLauncher().exitStatus, 0);
    ASSERT_EQ(gameStarts(1).size(), 1u);
    started.stopAll();

    // A replayed older release, validly signed, under a lower serial.
    signedRelease("0.9", 4);
    expectRefused("ManifestSerial 4 is lower than the installed serial 5");

    // The same serial again is no replay: the installed game starts.
    signedRelease("1.0", 5);
    const ChildResult again = runLauncher();
    EXPECT_EQ(again.exitStatus, 0) << again.standardError;
    EXPECT_EQ(gameStarts(2).size(), 2u);
}

TEST_F(SignedReleases, AChangedArchiveIsDeletedUnopened) {
    // The whole-archive road: a server that serves no ranges.
    serve({.extraDirectives = "max_ranges 0;"});
    const std::string text = signedRelease("1.0", 1);
    configureKey(publicKey);
    const fs::path archive = releases / "game-1.0.zip";
    const std::string expected = text.substr(text.find("ApplicationSha256=") + 18, 64);
    changeOneByte(archive);
    SKIP_WITHOUT_DISPLAY();
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    // The range request answered whole (and dropped at once), then the archive.
    EXPECT_EQ(requestsFor("GET /game-1.0.zip 200"), 2);
    EXPECT_TRUE(lastRunMentions("Archive refused, its SHA-256 differs from the manifest's: "
                                "expected " +
                                expected + " got "));
    EXPECT_FALSE(lastRunMentions("failed to unzip file"));
    EXPECT_FALSE(fs::exists(dataFolder / (displayName + ".zip")));
    EXPECT_FALSE(fs::exists(dataFolder / gameBundleName()));
    EXPECT_FALSE(fs::exists(dataFolder / "ReleaseIndex.sha256"));
    EXPECT_FALSE(fs::exists(dataFolder / "CurrentVersion.ini"));
    EXPECT_TRUE(gameStarts(1).empty());
}

// The refused installer no longer ends the run: the signed game is installed and started by
// this launcher, and that is the exit status.
TEST_F(SignedReleases, AChangedLauncherInstallerIsDeletedUnopened) {
    SKIP_WITHOUT_DISPLAY();
    signedRelease("1.0", 1, "2.0");
    configureKey(publicKey);
    changeOneByte(releases / "launcher-2.0.zip");

    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(requestsFor("GET /launcher-2.0.zip 200"), 1);
    EXPECT_TRUE(lastRunMentions("Archive refused, its SHA-256 differs from the manifest's"));
    EXPECT_TRUE(lastRunHas("Failed to curl and install from launcher"));
    const fs::path folder = sandbox.temporaryFolder / "Test App";
    EXPECT_FALSE(fs::exists(folder / (displayName + ".zip")));
    EXPECT_FALSE(fs::exists(folder / (displayName + ".app")));
    const auto starts = gameStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].version, "1.0");
    EXPECT_EQ(executableOf(starts[0].pid),
              (dataFolder / gameBundleName() / "Contents" / "MacOS" / "sample_game").string());
}

TEST_F(SignedReleases, AKeyThatIsNoKeyRefusesEveryManifest) {
    signedRelease("1.0", 1);
    for (const std::string& key :
         {std::string("not a key"), publicKey.substr(0, 40) + "AA==", publicKey + publicKey}) {
        configureKey(key);
        expectRefused("releaseSigningPublicKey is not base64 of 32 bytes");
    }
}

TEST_F(SignedReleases, WithoutAKeyASignedReleaseInstallsLikeAnyOther) {
    SKIP_WITHOUT_DISPLAY();
    signedRelease("1.0", 1);
    configure("1.0", "/LatestVersion.ini");
    // Nothing is checked without a key: a signature by some other key changes nothing.
    std::string otherPublicKey;
    runPublish(
        {"sign", "--key", newKey("other.pem", &otherPublicKey).string(), manifestPath().string()});
    const std::string served = readFile(manifestPath());
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_FALSE(lastRunMentions("refused"));
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), served);
}

// Mirrors on the whole-archive road: a primary URL that answers with an error sends the launcher
// to the mirrors in order; a mirror that cannot be reached or serves another archive than the
// signed one is skipped; only when every place failed does the install fail, with the last
// place's own lines.
TEST_F(SignedReleases, TheWholeArchiveComesFromTheFirstMirrorThatServesTheSignedOne) {
    SKIP_WITHOUT_DISPLAY();
    serve({.extraDirectives = "        location /broken/ { return 500; }\n"
                              "        location /gone/ { return 404; }\n"});
    const std::string installer = publishLauncherInstaller("1.0");
    const std::string other = publishGame("0.9");
    const std::string dead = "http://127.0.0.1:1/game.zip";
    struct Case {
        std::string what;
        bool keyed;
        std::string primary;              // folder whose URL answers for the archive
        std::vector<std::string> mirrors; // "mirror" (serves it), "other", "dead" or a folder
        bool installs;
        std::vector<std::string> skipped; // why each place before the last good one failed
    };
    const std::vector<Case> cases = {
        {"a missing primary, then the mirror",
         true,
         "gone",
         {"mirror"},
         true,
         {"the server answered with HTTP status 404"}},
        {"a broken primary, an unreachable mirror, another archive, then the mirror",
         true,
         "broken",
         {"dead", "other", "mirror"},
         true,
         {"the server answered with HTTP status 500", "Couldn't connect to server",
          "its SHA-256 differs from the manifest's"}},
        {"an error page is no archive without a key either",
         false,
         "gone",
         {"mirror"},
         true,
         {"the server answered with HTTP status 404"}},
        {"no place serves the signed archive",
         true,
         "gone",
         {"other"},
         false,
         {"the server answered with HTTP status 404"}},
    };
    int serial = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string version = "1." + std::to_string(serial);
        const std::string archive = publishGame(version).substr(1);
        for (const char* folder : {"gone", "broken", "mirror"}) {
            fs::create_directories(releases / folder);
            fs::copy_file(releases / archive, releases / folder / archive);
        }
        fs::remove(releases / archive);
        std::vector<std::string> places = {server->url("/" + c.primary + "/" + archive)};
        std::vector<std::string> extra;
        for (const std::string& mirror : c.mirrors) {
            places.push_back(mirror == "dead"    ? dead
                             : mirror == "other" ? server->url(other)
                                                 : server->url("/" + mirror + "/" + archive));
            extra.insert(extra.end(), {"--mirror-url", places.back()});
        }
        publishSignedManifest(version, "/" + c.primary + "/" + archive, "1.0", installer, serial,
                              privateKey, extra);
        if (c.keyed) {
            configureKey(publicKey);
        } else {
            configure("1.0", "/LatestVersion.ini");
        }
        const std::size_t startsBefore = readGameStarts(gameRecord).size();
        const ChildResult result = runLauncher();
        EXPECT_EQ(result.exitStatus, c.installs ? 0 : 1) << result.standardError;
        for (std::size_t i = 0; i < c.skipped.size(); ++i) {
            EXPECT_TRUE(lastRunHas("whole-archive download from " + places[i] +
                                   " failed: " + c.skipped[i] + "; trying " + places[i + 1]))
                << i;
        }
        EXPECT_EQ(lastRunMentions("whole-archive download from " + places[c.skipped.size()]),
                  false);
        EXPECT_FALSE(fs::exists(dataFolder / (displayName + ".zip")));
        if (c.installs) {
            const auto starts = gameStarts(startsBefore + 1);
            ASSERT_EQ(starts.size(), startsBefore + 1);
            EXPECT_EQ(starts.back().version, version);
            EXPECT_EQ(requestsFor("GET /mirror/" + archive + " 200"), 1);
        } else {
            // The last place's own lines, as a lone URL's: its archive refused unopened.
            EXPECT_TRUE(
                lastRunMentions("Archive refused, its SHA-256 differs from the manifest's"));
            EXPECT_FALSE(lastRunMentions("failed to unzip file"));
            EXPECT_EQ(readGameStarts(gameRecord).size(), startsBefore);
            EXPECT_NE(readFile(dataFolder / "CurrentVersion.ini").find("ApplicationVersion=1.3"),
                      std::string::npos);
        }
        started.stopAll();
        ++serial;
    }
}
