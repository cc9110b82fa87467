// What a checking launcher refuses beyond a bad signature, end to end against nginx: an older
// manifest after an interrupted update, an expired manifest (with and without offline play),
// keys being rotated, and a threshold of two signatures, also made by openssl alone.
#include "tests/e2e/signed_release_fixture.h"
#include "tests/support/temp_folder.h"

#include <csignal>
#include <functional>

namespace fs = std::filesystem;

namespace {

const PlistEntries offlinePlay{{"startInstalledGameWhenOffline", "<integer>1</integer>"}};
const PlistEntries twoSignatures{{"releaseSigningThreshold", "<integer>2</integer>"}};
const std::string longAgo = "2001-01-01T00:00:00Z";

class SignedReleaseRules : public SignedReleases {
  protected:
    // Release version under serial installed and started once; the player has quit since.
    void installAndQuit(const std::string& version, int serial, const PlistEntries& extra = {}) {
        signedRelease(version, serial);
        configureKey(publicKey, extra);
        const ChildResult result = runLauncher();
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        ++starts;
        ASSERT_EQ(gameStarts(starts).size(), starts);
        started.stopAll();
    }

    std::string highestSerial() const { return readFile(dataFolder / "HighestManifestSerial"); }
    std::string offlineLine() const {
        return "Started the installed game without checking for updates: " +
               (dataFolder / gameBundleName()).string();
    }

    std::size_t starts = 0;
};

} // namespace

TEST_F(SignedReleaseRules, AnOlderManifestAfterAKilledUpdateIsRefusedAndItsArchiveNeverFetched) {
    SKIP_WITHOUT_DISPLAY();
    installAndQuit("1.0", 6);
    EXPECT_EQ(highestSerial(), "6\n");
    // Release 1.1 under serial 7, served so slowly (about a minute for the archive) that the
    // launcher is killed long before it is in. Without ranges the archive comes whole.
    const std::size_t archiveSize = fs::file_size(releases / "game-1.0.zip");
    serve({.extraDirectives =
               "limit_rate " + std::to_string(archiveSize / 60 + 1) + "; max_ranges 0;"});
    signedRelease("1.1", 7);
    configureKey(publicKey);
    auto run = startLauncher();
    ASSERT_TRUE(waitForLogMention("performToFileCurlAndExecute start - url:" +
                                  server->url("/game-1.1.zip")));
    for (const pid_t launcher : runningLaunchers()) {
        kill(launcher, SIGKILL);
    }
    EXPECT_NE(run.get().exitStatus, 0);
    // The update had not reached its commit: 1.0 is still installed and recorded, serial 6.
    EXPECT_NE(readFile(dataFolder / "CurrentVersion.ini").find("ManifestSerial=6"),
              std::string::npos);
    EXPECT_EQ(highestSerial(), "7\n");

    // Older releases, validly signed, replayed: 5 is below what is installed; 6 is what is
    // installed, and only the record says 7.
    serve();
    signedRelease("0.9", 5);
    configureKey(publicKey);
    expectRefused("ManifestSerial 5 is lower than the installed serial 6");
    EXPECT_EQ(requestsFor("GET /game-0.9.zip"), 0);
    signedRelease("0.9", 6);
    expectRefused("ManifestSerial 6 is lower than the highest accepted serial 7");
    EXPECT_EQ(requestsFor("GET /game-0.9.zip"), 0);
    EXPECT_EQ(highestSerial(), "7\n");
    EXPECT_EQ(readGameStarts(gameRecord).size(), 1u);

    // Release 7 itself is taken and installed.
    signedRelease("1.1", 7);
    const ChildResult again = runLauncher();
    EXPECT_EQ(again.exitStatus, 0) << again.standardError;
    EXPECT_EQ(gameStarts(2).back().version, "1.1");
}

TEST_F(SignedReleaseRules, AnExpiredManifestStartsTheInstalledGameOnlyWithOfflinePlay) {
    SKIP_WITHOUT_DISPLAY();
    installAndQuit("1.0", 1, offlinePlay);
    const std::string record = readFile(dataFolder / "CurrentVersion.ini");
    // Release 2.0 is published, but what arrives is a manifest that has expired: re-signed with a
    // past expiry, which manifest itself refuses to write.
    signedRelease("2.0", 2, "1.0");
    runPublish({"sign", "--sign-with", privateKey.string(), "--expires-at", longAgo,
                manifestPath().string()});

    const ChildResult offline = runLauncher();
    EXPECT_EQ(offline.exitStatus, 0) << offline.standardError;
    EXPECT_TRUE(lastRunHasInOrder("Manifest refused: it expired at " + longAgo,
                                  "Error getting or parsing LatestVersion.ini! "
                                  "latestVersionEndpointURL:" +
                                      server->url("/LatestVersion.ini")));
    EXPECT_TRUE(lastRunHas(offlineLine()));
    const auto games = gameStarts(2);
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[1].version, "1.0");
    started.stopAll();

    // Without offline play the run ends with 1, as after a failed transfer.
    configureKey(publicKey);
    const ChildResult ended = runLauncher();
    EXPECT_EQ(ended.exitStatus, 1);
    EXPECT_TRUE(lastRunHas("Manifest refused: it expired at " + longAgo));
    EXPECT_FALSE(lastRunMentions("without checking for updates"));
    EXPECT_EQ(readGameStarts(gameRecord).size(), 2u);

    EXPECT_EQ(requestsFor("GET /game-2.0.zip"), 0);
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), record);
    EXPECT_EQ(highestSerial(), "1\n");
}

// Whatever a manifest is refused for, none of it is used, so with offline play the installed,
// checked game starts as without a network; nothing is fetched. (Until then only an expired
// manifest did: a key rotation a player's launcher missed locked the player out.)
TEST_F(SignedReleaseRules, EveryRefusedManifestTakesTheOfflineRoadWithOfflinePlay) {
    SKIP_WITHOUT_DISPLAY();
    installAndQuit("1.0", 3, offlinePlay);
    const std::string record = readFile(dataFolder / "CurrentVersion.ini");
    std::string otherKey;
    const fs::path otherPrivateKey = newKey("other.pem", &otherKey);
    struct Refusal {
        const char* what;
        std::function<void()> publish;
        std::string line;
    };
    const std::vector<Refusal> refusals{
        {"an older serial", [this] { signedRelease("0.9", 2); },
         "ManifestSerial 2 is lower than the installed serial 3"},
        {"a key rotation this launcher missed",
         [&] {
             unsignedRelease("2.0", 4);
             runPublish({"sign", "--sign-with", otherPrivateKey.string(), manifestPath().string()});
         },
         "the signature does not verify with releaseSigningPublicKey"},
        {"an expiry that is no time",
         [this] {
             // launcher-publish writes no such value; one edited in by hand and signed again.
             const std::string text = unsignedRelease("2.0", 4);
             writeFile(manifestPath(), text + "ManifestExpires=2030-02-30T00:00:00Z\n");
             runPublish({"sign", "--sign-with", privateKey.string(), manifestPath().string()});
         },
         "ManifestExpires is not a UTC time: 2030-02-30T00:00:00Z"},
        {"no signature", [this] { unsignedRelease("2.0", 4); },
         "the last line is not a ManifestSignature line"}};
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        refusal.publish();
        configureKey(publicKey, offlinePlay);
        const ChildResult offline = runLauncher();
        EXPECT_EQ(offline.exitStatus, 0) << offline.standardError;
        EXPECT_TRUE(lastRunHasInOrder("Manifest refused: " + refusal.line,
                                      "Error getting or parsing LatestVersion.ini! "
                                      "latestVersionEndpointURL:" +
                                          server->url("/LatestVersion.ini")));
        EXPECT_TRUE(lastRunHasInOrder(
            "The manifest was not accepted: starting the installed game as without a network",
            offlineLine()));
        ++starts;
        ASSERT_EQ(gameStarts(starts).size(), starts);
        started.stopAll();

        // Without offline play the run ends with 1 and starts nothing.
        configureKey(publicKey);
        EXPECT_EQ(runLauncher().exitStatus, 1);
        EXPECT_TRUE(lastRunHas("Manifest refused: " + refusal.line));
        EXPECT_FALSE(lastRunMentions("without checking for updates"));
        EXPECT_EQ(readGameStarts(gameRecord).size(), starts);
    }
    EXPECT_EQ(requestsFor("GET /game-0.9.zip"), 0);
    EXPECT_EQ(requestsFor("GET /game-2.0.zip"), 0);
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), record);
    EXPECT_EQ(highestSerial(), "3\n");
}

TEST_F(SignedReleaseRules, LaunchersTrustingTheOldOrTheNewKeyBothTakeAManifestSignedWithBoth) {
    SKIP_WITHOUT_DISPLAY();
    const std::string oldKey = publicKey;
    std::string newPublicKey;
    const fs::path newPrivateKey = newKey("new.pem", &newPublicKey);
    signedRelease("1.0", 1, "1.0", {"--sign-with", newPrivateKey.string()});

    configureKey(oldKey);
    const ChildResult installed = runLauncher();
    EXPECT_EQ(installed.exitStatus, 0) << installed.standardError;
    EXPECT_EQ(gameStarts(1).size(), 1u);
    started.stopAll();

    // The launcher published for the move trusts both; the one after it, only the new key.
    std::size_t count = 1;
    for (const std::string& trusted : {oldKey + ", " + newPublicKey, newPublicKey}) {
        configureKey(trusted);
        const ChildResult result = runLauncher();
        EXPECT_EQ(result.exitStatus, 0) << trusted << "\n" << result.standardError;
        EXPECT_FALSE(lastRunMentions("refused"));
        ++count;
        EXPECT_EQ(gameStarts(count).size(), count);
        started.stopAll();
    }

    // Once the old key is dropped, what only the old key signed is refused.
    signedRelease("2.0", 2);
    configureKey(newPublicKey);
    expectRefused("the signature does not verify with releaseSigningPublicKey");
}

TEST_F(SignedReleaseRules, AThresholdOfTwoRefusesOneGoodSignature) {
    std::string secondKey;
    const fs::path secondPrivateKey = newKey("second.pem", &secondKey);
    signedRelease("1.0", 1);
    configureKey(publicKey + "," + secondKey, twoSignatures);
    expectRefused("1 of the 2 required signatures verify");
    EXPECT_FALSE(fs::exists(dataFolder / "HighestManifestSerial"));

    // The same key twice in the list is still one key.
    configureKey(publicKey + "," + publicKey, twoSignatures);
    expectRefused("1 of the 2 required signatures verify");

    SKIP_WITHOUT_DISPLAY();
    signedRelease("1.0", 1, "1.0", {"--sign-with", secondPrivateKey.string()});
    configureKey(publicKey + "," + secondKey, twoSignatures);
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(gameStarts(1).size(), 1u);
}

TEST_F(SignedReleaseRules, AManifestSignedTwiceByOpensslAloneIsTaken) {
    SKIP_WITHOUT_DISPLAY();
    std::string secondKey;
    const fs::path secondPrivateKey = newKey("second.pem", &secondKey);
    unsignedRelease("1.0", 1, {"--expires-in", "7d"});
    // Both signatures over the unsigned manifest; then both lines go after it.
    const ChildResult signedByOpenssl = runChild(
        "/bin/sh",
        {"-c",
         "set -e; cd \"$1\"; for key in \"$2\" \"$3\"; do"
         " openssl pkeyutl -sign -rawin -inkey \"$key\" -in LatestVersion.ini -out \"$key.sig\";"
         " done; for key in \"$2\" \"$3\"; do"
         " printf 'ManifestSignature=%s\\n' \"$(openssl base64 -A -in \"$key.sig\")\""
         " >> LatestVersion.ini; done",
         "sh", releases.string(), privateKey.string(), secondPrivateKey.string()});
    ASSERT_EQ(signedByOpenssl.exitStatus, 0) << signedByOpenssl.standardError;
    configureKey(secondKey + ", " + publicKey, twoSignatures);
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_FALSE(lastRunMentions("refused"));
    EXPECT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(highestSerial(), "1\n");
}
