// What any transfer may reach and how long or how much it may take: the manifest fetch and the
// archive download against servers that lead elsewhere, send too much, hang or crawl.
#include "tests/support/http_test_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/scoped_value.h"
#include "tests/support/silent_server.h"
#include "tests/support/temp_folder.h"
#include "tests/support/trickle_route.h"
#include "update/http/curl_session.h"
#include "update/http/manifest_download.h"
#include "update/manifest_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

using namespace std::chrono_literals;

namespace {

class ManifestLimits : public testing::Test {
  protected:
    // Fetches url on another thread, so that a limit that does not work fails the test
    // (after the guard) instead of holding it; stopping the silent server ends such a wait.
    int fetchGuarded(const std::string& url, SilentServer* silent = nullptr) {
        auto fetching = std::async(std::launch::async,
                                   [&] { return fetchLatestVersionInfo(info, url, &raw, {}); });
        const bool ended = fetching.wait_for(30s) == std::future_status::ready;
        if (silent != nullptr) {
            silent->stop();
        }
        const int result = fetching.get();
        EXPECT_TRUE(ended) << "the fetch was still waiting after 30 s";
        return result;
    }
    std::size_t countOf(const std::string& message) const {
        const std::string contents = log.contents();
        std::size_t count = 0;
        for (auto at = contents.find(":" + message + "\n"); at != std::string::npos;
             at = contents.find(":" + message + "\n", at + 1)) {
            ++count;
        }
        return count;
    }

    TempFolder folder;
    LogCapture log{folder.str()};
    LatestVersionInfo info;
    std::string raw = "unchanged";
    HttpTestServer http;
};

} // namespace

TEST_F(ManifestLimits, OnlyHttpAndHttpsAreFetchedRedirectsIncluded) {
    writeFile(folder / "LatestVersion.ini", "ApplicationVersion=local\n");
    EXPECT_EQ(
        fetchLatestVersionInfo(info, "file://" + folder.str() + "/LatestVersion.ini", &raw, {}), 1);
    EXPECT_EQ(info.ApplicationVersion, "");
    EXPECT_EQ(countOf("curl_easy_perform() failed: Unsupported protocol"), 1u) << log.contents();

    SilentServer ftp;
    const std::string elsewhere = "ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/x.ini";
    http.server().Get("/moved", [elsewhere](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(elsewhere);
    });
    http.start();
    EXPECT_EQ(fetchGuarded(http.url("/moved"), &ftp), 1);
    EXPECT_EQ(ftp.connections(), 0) << "the redirect to ftp was followed";
    EXPECT_EQ(countOf("curl_easy_perform() failed: Unsupported protocol"), 2u) << log.contents();
    EXPECT_EQ(raw, "unchanged");
}

TEST_F(ManifestLimits, ABodyPast64KiBFailsWithOneLine) {
    const std::string manifest = "ApplicationVersion=big\n";
    const std::string exact = manifest + std::string(manifestSizeLimit - manifest.size(), '#');
    http.server().Get("/exact", [exact](const httplib::Request&, httplib::Response& res) {
        res.set_content(exact, "text/plain");
    });
    http.server().Get("/over", [exact](const httplib::Request&, httplib::Response& res) {
        res.set_content(exact + "#", "text/plain");
    });
    http.start();

    EXPECT_EQ(fetchLatestVersionInfo(info, http.url("/exact"), &raw, {}), 0);
    EXPECT_EQ(info.ApplicationVersion, "big");
    EXPECT_EQ(raw.size(), manifestSizeLimit);

    info = {};
    raw = "unchanged";
    EXPECT_EQ(fetchLatestVersionInfo(info, http.url("/over"), &raw, {}), 1);
    EXPECT_EQ(info.ApplicationVersion, "");
    EXPECT_EQ(raw, "unchanged");
    EXPECT_EQ(countOf("manifest larger than 65536 bytes, transfer aborted"), 1u);
    EXPECT_EQ(countOf("curl_easy_perform() failed: Failed writing received data to "
                      "disk/application"),
              1u)
        << log.contents();
    EXPECT_EQ(countOf("performed installer version in-memory curl and got status: 1..."), 1u);
    EXPECT_LT(log.contents().size(), 8 * manifestSizeLimit) << "the log stays small";
}

TEST_F(ManifestLimits, AHandshakeThatNeverEndsRunsIntoTheConnectionTimeOut) {
    const ScopedValue<long> connect(connectTimeoutSeconds, 1);
    SilentServer silent;
    const std::string url = "https://127.0.0.1:" + std::to_string(silent.port()) + "/x.ini";
    EXPECT_EQ(fetchGuarded(url, &silent), 1);
    EXPECT_EQ(silent.connections(), 1);
    EXPECT_EQ(countOf("curl_easy_perform() failed: Timeout was reached"), 1u) << log.contents();
    EXPECT_EQ(countOf("Couldn't download " + url), 1u);
}

TEST_F(ManifestLimits, AManifestThatTricklesRunsIntoTheTimeLimit) {
    const ScopedValue<long> whole(manifestTimeLimitSeconds, 2);
    // One byte every 300 ms, 30 in all: fast enough for a 1 byte/s stall rule.
    serveTrickle(http.server(), "/trickle", "text/plain", 30, 300ms);
    http.start();
    EXPECT_EQ(fetchGuarded(http.url("/trickle")), 1);
    EXPECT_EQ(countOf("curl_easy_perform() failed: Timeout was reached"), 1u) << log.contents();
    EXPECT_EQ(raw, "unchanged");
}

TEST_F(ManifestLimits, AManifestTrickledByteByByteIsLoggedWholeOnceBeyondTheBudget) {
    std::string manifest = "ApplicationVersion=trickled\n";
    while (manifest.size() < 3 * manifestLogBudget / 8) {
        manifest += "; a comment line that pads the manifest out\n";
    }
    http.server().Get("/trickle", [manifest](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain",
                                         [manifest](std::size_t offset, httplib::DataSink& sink) {
                                             if (offset >= manifest.size()) {
                                                 sink.done();
                                                 return true;
                                             }
                                             // A pause per byte, so that each one arrives on its
                                             // own.
                                             std::this_thread::sleep_for(200us);
                                             return sink.write(manifest.data() + offset, 1);
                                         });
    });
    http.start();
    EXPECT_EQ(fetchGuarded(http.url("/trickle")), 0) << log.contents();
    EXPECT_EQ(info.ApplicationVersion, "trickled");
    EXPECT_EQ(raw, manifest);

    // Byte by byte, a line per byte would have written about manifest.size() squared / 2.
    EXPECT_LT(log.contents().size(), manifestLogBudget + 2 * manifest.size() + 1024);
    EXPECT_EQ(countOf("got data: " + manifest.substr(0, manifest.size() - 1) + "\n"), 1u)
        << "the whole text once";
    const std::string contents = log.contents();
    EXPECT_NE(contents.find(":left out of the run log: "), std::string::npos) << contents;
    EXPECT_NE(contents.find(":got data: A\n"), std::string::npos) << "the first lines as before";
}
