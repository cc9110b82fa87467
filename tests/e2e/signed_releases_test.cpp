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
