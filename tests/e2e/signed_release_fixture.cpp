#include "tests/e2e/signed_release_fixture.h"

#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

void SignedReleases::SetUp() {
    AcceptanceTest::SetUp();
    privateKey = newKey("release.pem");
}

fs::path SignedReleases::newKey(const std::string& name, std::string* publicHalf) {
    return newSigningKey(name, publicHalf != nullptr ? *publicHalf : publicKey);
}

std::string SignedReleases::signedRelease(const std::string& version, int serial,
                                          const std::string& launcherVersion,
                                          const std::vector<std::string>& extra) {
    const std::string game = publishGame(version);
    const std::string installer = publishLauncherInstaller(launcherVersion);
    return publishSignedManifest(version, game, launcherVersion, installer, serial, privateKey,
                                 extra);
}

std::string SignedReleases::unsignedRelease(const std::string& version, int serial,
                                            const std::vector<std::string>& extra) {
    // Signed first, so that every other option is the same; the signature line then goes.
    std::string text = signedRelease(version, serial, "1.0", extra);
    text.erase(text.find("ManifestSignature="));
    writeFile(manifestPath(), text);
    return text;
}

void SignedReleases::configureKey(const std::string& key, const PlistEntries& extra) {
    PlistEntries entries = {{"releaseSigningPublicKey", "<string>" + key + "</string>"}};
    entries.insert(entries.end(), extra.begin(), extra.end());
    configure("1.0", "/LatestVersion.ini", entries);
}

void SignedReleases::expectRefused(const std::string& failedCheck) {
    const int archivesBefore = requestsFor("GET /game-") + requestsFor("GET /launcher-");
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    EXPECT_TRUE(lastRunHas("Manifest refused: " + failedCheck)) << failedCheck;
    EXPECT_TRUE(lastRunHas("Error getting or parsing LatestVersion.ini! "
                           "latestVersionEndpointURL:" +
                           server->url("/LatestVersion.ini")));
    EXPECT_FALSE(lastRunMentions("performToFileCurlAndExecute start"));
    EXPECT_EQ(requestsFor("GET /game-") + requestsFor("GET /launcher-"), archivesBefore);
}
