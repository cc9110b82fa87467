// verifyServerCertificates as update/ takes it: every kind of transfer against an HTTPS server
// whose certificate nothing vouches for, with the check off (as launchers already shipped) and
// on; and the one place that sets the options, against a chain the check can trust.
#include "tests/support/child_process.h"
#include "tests/support/http_test_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_folder.h"
#include "update/http/curl_session.h"
#include "update/http/file_download.h"
#include "update/http/range_reader.h"
#include "update/manifest_check.h"

#include <gtest/gtest.h>

namespace {

const std::string manifestText = "ApplicationVersion=secure\n";
const std::string archiveBytes(200 * 1024, 'z');

class ServerCertificates : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(makeSelfSignedCertificate(folder.str(), certificate, key));
        https = std::make_unique<HttpTestServer>(certificate, key);
        https->server().Get("/LatestVersion.ini",
                            [](const httplib::Request&, httplib::Response& res) {
                                res.set_content(manifestText, "text/plain");
                            });
        https->server().Get("/game.zip", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(archiveBytes, "application/zip");
        });
        https->start();
    }

    bool logged(const std::string& message) const {
        return log.contents().find(":" + message + "\n") != std::string::npos;
    }

    // libcurl's text for a certificate that does not verify.
    static std::string refusedText() { return curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION); }

    TempFolder folder;
    LogCapture log{folder.str()};
    std::string certificate;
    std::string key;
    std::unique_ptr<HttpTestServer> https;
};

// A certificate for name made by openssl req, written to folder; its path.
std::string certificateFor(const TempFolder& folder, const std::string& name,
                           const std::string& alternativeName, std::string& key) {
    const std::string certificate = folder.str() + "/" + name + ".crt";
    key = folder.str() + "/" + name + ".key";
    const ChildResult made =
        runChild("/usr/bin/openssl",
                 {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                  "-nodes", "-days", "2", "-subj", "/CN=" + name, "-addext",
                  "subjectAltName=" + alternativeName, "-keyout", key, "-out", certificate});
    EXPECT_EQ(made.exitStatus, 0) << made.standardError;
    return certificate;
}

// One manifest transfer through the launcher's options, trusting only caFile.
CURLcode fetchTrusting(const std::string& url, const std::string& caFile) {
    const CurlSession session(TransferKind::Manifest, TransferSettings{true});
    curl_easy_setopt(session.handle(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(session.handle(), CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(
        session.handle(), CURLOPT_WRITEFUNCTION,
        +[](char*, std::size_t size, std::size_t count, void*) { return size * count; });
    return curl_easy_perform(session.handle());
}

} // namespace

TEST_F(ServerCertificates, OffAsCompiledInEveryTransferTakesAnyCertificate) {
    const TransferSettings off;
    EXPECT_FALSE(off.verifyServerCertificates);
    const CheckedManifest manifest =
        fetchCheckedManifest(https->url("/LatestVersion.ini"), {}, {}, off);
    EXPECT_EQ(manifest.status, 0) << log.contents();
    EXPECT_EQ(manifest.info.ApplicationVersion, "secure");

    EXPECT_TRUE(downloadToFile(https->url("/game.zip"), folder.str() + "/game.zip", off))
        << log.contents();
    EXPECT_EQ(readFile(folder / "game.zip"), archiveBytes);

    RangeReader ranges(https->url("/game.zip"), off);
    EXPECT_EQ(ranges.open(), RangeReader::State::Ready) << ranges.reason();
    EXPECT_EQ(ranges.size(), archiveBytes.size());
}

TEST_F(ServerCertificates, OnEveryTransferRefusesACertificateNothingVouchesFor) {
    const TransferSettings on{true};
    const CheckedManifest manifest =
        fetchCheckedManifest(https->url("/LatestVersion.ini"), {}, {}, on);
    EXPECT_EQ(manifest.status, 1);
    EXPECT_EQ(manifest.failure, ManifestFailure::Transfer);
    EXPECT_EQ(manifest.info.ApplicationVersion, "");
    EXPECT_TRUE(logged("curl_easy_perform() failed: " + refusedText())) << log.contents();
    EXPECT_TRUE(logged("Couldn't download " + https->url("/LatestVersion.ini")));

    const std::string archive = folder.str() + "/game.zip";
    EXPECT_FALSE(downloadToFile(https->url("/game.zip"), archive, on));
    EXPECT_EQ(readFile(archive), "") << "nothing of the answer is kept";

    // Tried again like any failed range request, without the waits.
    const long savedDelay = rangeRetryBaseMilliseconds;
    rangeRetryBaseMilliseconds = 1;
    RangeReader ranges(https->url("/game.zip"), on);
    EXPECT_EQ(ranges.open(), RangeReader::State::Failed);
    rangeRetryBaseMilliseconds = savedDelay;
    EXPECT_EQ(ranges.reason(), refusedText());
}

TEST(TransferOptions, TheCheckTrustsAChainToItsStoreForTheRightHostOnly) {
    TempFolder folder;
    std::string key;
    const std::string rightHost = certificateFor(folder, "127.0.0.1", "IP:127.0.0.1", key);
    HttpTestServer right(rightHost, key);
    right.server().Get("/x", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("x", "text/plain");
    });
    right.start();
    EXPECT_EQ(fetchTrusting(right.url("/x"), rightHost), CURLE_OK);

    // Trusted, but made out to another host.
    std::string otherKey;
    const std::string otherHost =
        certificateFor(folder, "elsewhere.example", "DNS:elsewhere.example", otherKey);
    HttpTestServer wrong(otherHost, otherKey);
    wrong.server().Get("/x", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("x", "text/plain");
    });
    wrong.start();
    EXPECT_EQ(fetchTrusting(wrong.url("/x"), otherHost), CURLE_PEER_FAILED_VERIFICATION);
}
