#include "tests/e2e/signed_release_fixture.h"

#include "tests/support/temp_folder.h"

#include <stdexcept>

namespace fs = std::filesystem;

void SignedReleases::SetUp() {
    AcceptanceTest::SetUp();
    privateKey = newKey("release.pem");
}

fs::path SignedReleases::newKey(const std::string& name, std::string* publicHalf) {
    const fs::path file = sandbox.root / name;
    const ChildResult made = runChild(PUBLISH_TOOL, {"keygen", "--output", file.string()});
    if (made.exitStatus != 0) {
        throw std::runtime_error("keygen failed: " + made.standardError);
    }
    std::string key = made.standardOutput.substr(0, made.standardOutput.find('\n'));
    (publicHalf != nullptr ? *publicHalf : publicKey) = key;
    return file;
}

std::string SignedReleases::signedRelease(const std::string& version, int serial,
                                          const std::string& launcherVersion,
                                          const std::vector<std::string>& extra) {
    std::vector<std::string> options = {"--sign-with", privateKey.string()};
    options.insert(options.end(), extra.begin(), extra.end());
    const std::string game = publishGame(version);
    const std::string installer = publishLauncherInstaller(launcherVersion);
    std::vector<std::string> arguments = {"manifest",
                                          "--application-version",
                                          version,
                                          "--application-url",
                                          server->url(game),
                                          "--executable-prefix",
                                          "",
                                          "--launcher-version",
                                          launcherVersion,
                                          "--launcher-url",
                                          server->url(installer),
                                          "--application-archive",
                                          (releases / game.substr(1)).string(),
                                          "--launcher-archive",
                                          (releases / installer.substr(1)).string(),
                                          "--serial",
                                          std::to_string(serial),
                                          "--output",
                                          manifestPath().string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    runPublish(arguments);
    return readFile(manifestPath());
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
