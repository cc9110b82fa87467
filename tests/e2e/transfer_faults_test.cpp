// The built launcher against servers that misbehave around the manifest and the certificates:
// a manifest that trickles in byte by byte, manifests the server will not give, and HTTPS
// servers whose self-signed certificates nothing vouches for.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_folder.h"

#include <curl/curl.h>

#include <chrono>
#include <thread>

namespace fs = std::filesystem;

namespace {

const PlistEntries verifying{{"verifyServerCertificates", "<integer>1</integer>"}};
const PlistEntries offlinePlay{{"startInstalledGameWhenOffline", "<integer>1</integer>"}};

PlistEntries with(PlistEntries entries, const PlistEntries& more) {
    entries.insert(entries.end(), more.begin(), more.end());
    return entries;
}

class TransferFaults : public AcceptanceTest {
  protected:
    // Release 1.0, announced by the manifest on the plain server.
    std::string release() { return publishManifest("1.0", publishGame("1.0"), "", "1.0"); }

    // The launcher pointed at endpoint, a whole URL.
    void configureEndpoint(const std::string& endpoint, const PlistEntries& extra = {}) {
        sandbox.writeConfig(
            endpoint, "1.0",
            with({{"appDisplayName", "<string>" + displayName + "</string>"}}, extra));
    }

    // nginx with TLS and a certificate of its own (openssl req), over the same releases.
    std::unique_ptr<NginxServer> secureServer() const {
        return std::make_unique<NginxServer>(releases, NginxServer::Options{.https = true});
    }

    static std::string refusedCertificateLine() {
        return std::string("curl_easy_perform() failed: ") +
               curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION);
    }
};

} // namespace

TEST_F(TransferFaults, AManifestTrickledByteByByteLeavesASmallRunLog) {
    SKIP_WITHOUT_DISPLAY();
    std::string manifest = release();
    // A publisher's long comment: about 14 KB, each byte its own piece on the wire.
    std::string padded = manifest;
    while (padded.size() < 14 * 1024) {
        padded += "; notes on this release, kept in the manifest by its publisher\n";
    }
    HttpTestServer trickle;
    trickle.server().Get(
        "/LatestVersion.ini", [padded](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "text/plain", [padded](std::size_t offset, httplib::DataSink& sink) {
                    if (offset >= padded.size()) {
                        sink.done();
                        return true;
                    }
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    return sink.write(padded.data() + offset, 1);
                });
        });
    trickle.start();
    configureEndpoint(trickle.url("/LatestVersion.ini"));

    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(readFile(dataFolder / "CurrentVersion.ini"), padded);
    // Both fetches (the launcher's and the installer's) went into this log.
    EXPECT_LT(fs::file_size(dataFolder / "out.log"), 1000000u);
    EXPECT_TRUE(lastRunMentions("left out of the run log: "));
}

TEST_F(TransferFaults, AManifestFailureEndsWithTheHttpStatusTheServerAnswered) {
    serve({.extraDirectives = "        location = /broken.ini { return 500; }\n"});
    for (const auto& [path, status] :
         {std::pair<std::string, std::string>{"/missing.ini", "404"}, {"/broken.ini", "500"}}) {
        configure("1.0", path);
        const ChildResult result = runLauncher();
        EXPECT_EQ(result.exitStatus, 1) << path;
        EXPECT_TRUE(lastRunHasInOrder(
            "Error getting or parsing LatestVersion.ini! latestVersionEndpointURL:" +
                server->url(path),
            "The server answered the request for LatestVersion.ini with HTTP status " + status))
            << path;
    }

    // Without an answer there is no status to tell.
    configure("1.0", "/LatestVersion.ini");
    server->stop();
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(lastRunHas("curl_easy_perform() failed: Couldn't connect to server"));
    EXPECT_FALSE(lastRunMentions("HTTP status"));
}

TEST_F(TransferFaults, AnUntrustedCertificateFailsTheManifestAndOfflinePlayApplies) {
    SKIP_WITHOUT_DISPLAY();
    const auto secure = secureServer();
    publishManifest("1.0", publishGame("1.0"), "", "1.0");
    const std::string endpoint = secure->url("/LatestVersion.ini");

    // Checked: the self-signed certificate ends the run before anything is fetched.
    configureEndpoint(endpoint, verifying);
    ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(
        lastRunHasInOrder(refusedCertificateLine(),
                          "performed installer version in-memory curl and got status: 1..."));
    EXPECT_TRUE(lastRunHas("Error getting or parsing LatestVersion.ini! latestVersionEndpointURL:" +
                           endpoint));
    EXPECT_FALSE(fs::exists(dataFolder / gameBundleName()));

    // Not checked (the compiled-in 0), the same server installs as launchers always did.
    configureEndpoint(endpoint, offlinePlay);
    result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_EQ(gameStarts(1).size(), 1u);
    started.stopAll();

    // Checked, with the game installed: a refused certificate is a failed transfer, and offline
    // play starts the installed game.
    configureEndpoint(endpoint, with(verifying, offlinePlay));
    result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(lastRunHas(refusedCertificateLine()));
    EXPECT_TRUE(lastRunHas("Started the installed game without checking for updates: " +
                           (dataFolder / gameBundleName()).string()));
    EXPECT_EQ(gameStarts(2).size(), 2u);
}

TEST_F(TransferFaults, AnUntrustedCertificateFailsTheContentArchive) {
    SKIP_WITHOUT_DISPLAY();
    const auto secure = secureServer();
    // The manifest is served plainly; the archive only over TLS.
    runPublish({"manifest", "--application-version", "1.0", "--application-url",
                secure->url(publishGame("1.0")), "--executable-prefix", "", "--launcher-version",
                "1.0", "--launcher-url", server->url("/none.zip"), "--output",
                (releases / "LatestVersion.ini").string()});
    configure("1.0", "/LatestVersion.ini", verifying);
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(lastRunHas(refusedCertificateLine()));
    EXPECT_FALSE(fs::exists(dataFolder / gameBundleName()));
    EXPECT_FALSE(fs::exists(dataFolder / "CurrentVersion.ini"));
    EXPECT_TRUE(gameStarts(1).empty());
}
