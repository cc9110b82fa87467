#include "tests/support/http_test_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/scoped_value.h"
#include "tests/support/temp_folder.h"
#include "update/http/curl_session.h"
#include "update/http/transfer_progress.h"
#include "update/manifest_check.h"
#include "update/release/rollout.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace {

class ManifestTest : public testing::Test {
  protected:
    void SetUp() override {
        http.server().Get("/LatestVersion.ini",
                          [this](const httplib::Request&, httplib::Response& res) {
                              std::lock_guard lock(servedMutex);
                              res.set_content(served, "text/plain");
                          });
        http.start();
    }

    // Serves body as the manifest and fetches it into info.
    int fetch(const std::string& body, std::string* rawText = nullptr) {
        {
            std::lock_guard lock(servedMutex);
            served = body;
        }
        return fetchLatestVersionInfo(info, http.url("/LatestVersion.ini"), rawText, {});
    }

    // Serves body as the manifest and checks it: what the launcher's parts get back.
    CheckedManifest check(const std::string& body) {
        {
            std::lock_guard lock(servedMutex);
            served = body;
        }
        return fetchCheckedManifest(http.url("/LatestVersion.ini"), {});
    }

    TempFolder folder;
    LogCapture log{folder.str()};
    LatestVersionInfo info;
    std::mutex servedMutex;
    std::string served;
    // Last, so that the server stops before the data its handlers read is destroyed.
    HttpTestServer http;
};

} // namespace

TEST_F(ManifestTest, ReadsTheFiveKeysWithEitherSeparator) {
    EXPECT_EQ(fetch("ApplicationVersion=2.0\n"
                    "ApplicationDownloadUrl = http://127.0.0.1:8/game.zip ; the content\n"
                    "ApplicationExecutablePrefix: The \n"
                    "LauncherVersion=1.5;no blank before the semicolon\n"
                    "LauncherInstallerDownloadUrl=http://h/i.zip\n"
                    "SomethingElse=ignored\n"),
              0);
    EXPECT_EQ(info.ApplicationVersion, "2.0");
    EXPECT_EQ(info.ApplicationDownloadUrl, "http://127.0.0.1:8/game.zip");
    EXPECT_EQ(info.ApplicationExecutablePrefix, "The");
    EXPECT_EQ(info.LauncherVersion, "1.5;no blank before the semicolon");
    EXPECT_EQ(info.LauncherInstallerDownloadUrl, "http://h/i.zip");
    const std::string contents = log.contents();
    EXPECT_NE(contents.find(":performed installer version in-memory curl and got status: 0...\n"),
              std::string::npos);
    EXPECT_NE(contents.find(":got data: ApplicationVersion=2.0\nApplicationDownloadUrl"),
              std::string::npos);
}

TEST_F(ManifestTest, OnlyKeysOutsideNamedSectionsCountAndNamesAreCaseSensitive) {
    info.LauncherVersion = "kept";
    EXPECT_EQ(fetch("ApplicationVersion=1\n"
                    "applicationversion=lower\n"
                    "[Game]\n"
                    "ApplicationVersion=in a section\n"
                    "LauncherVersion=in a section\n"
                    "[]\n"
                    "ApplicationDownloadUrl=after the empty header\n"
                    "ApplicationVersion=second\n"),
              0);
    EXPECT_EQ(info.ApplicationVersion, "second");
    EXPECT_EQ(info.ApplicationDownloadUrl, "after the empty header");
    EXPECT_EQ(info.LauncherVersion, "kept");
}

TEST_F(ManifestTest, IndentedLinesReplaceThePreviousValue) {
    EXPECT_EQ(fetch("ApplicationDownloadUrl=http://old/\n"
                    "  http://new/game.zip\n"
                    "ApplicationVersion=1.0\n"
                    "\tLauncherVersion=2.0\n"),
              0);
    EXPECT_EQ(info.ApplicationDownloadUrl, "http://new/game.zip");
    EXPECT_EQ(info.ApplicationVersion, "LauncherVersion=2.0");
    EXPECT_EQ(info.LauncherVersion, "");
}

TEST_F(ManifestTest, ReportsTheFirstMalformedLineAndKeepsTheRest) {
    std::string raw;
    EXPECT_EQ(fetch("ApplicationVersion=3\nLauncherVersion=4\nno separator here\n"
                    "ApplicationExecutablePrefix=P\n[unclosed\n",
                    &raw),
              3);
    EXPECT_EQ(info.ApplicationVersion, "3");
    EXPECT_EQ(info.LauncherVersion, "4");
    EXPECT_EQ(info.ApplicationExecutablePrefix, "P");
    EXPECT_EQ(raw.substr(0, 20), "ApplicationVersion=3");
}

TEST_F(ManifestTest, LongLinesAreReadInPiecesOf199Bytes) {
    const std::string url = "http://127.0.0.1/" + std::string(250 - 23 - 17, 'a');
    const std::string line = "ApplicationDownloadUrl=" + url; // 250 bytes
    ASSERT_EQ(line.size(), 250u);
    EXPECT_EQ(fetch("ApplicationVersion=1\n" + line + "\n"), 3);
    EXPECT_EQ(info.ApplicationDownloadUrl, line.substr(23, 199 - 23));
}

TEST_F(ManifestTest, LineEndsByteOrderMarkAndNulBytes) {
    EXPECT_EQ(fetch("\xEF\xBB\xBF"
                    "ApplicationVersion=5\r\nLauncherVersion=6\r\n"),
              0);
    EXPECT_EQ(info.ApplicationVersion, "5");
    EXPECT_EQ(info.LauncherVersion, "6");

    std::string raw;
    info = {};
    static constexpr char withNul[] = "ApplicationVersion=7\n\0LauncherVersion=8\n";
    EXPECT_EQ(fetch(std::string(withNul, sizeof withNul - 1), &raw), 0);
    EXPECT_EQ(raw, "ApplicationVersion=7\n");
    EXPECT_EQ(info.ApplicationVersion, "7");
    EXPECT_EQ(info.LauncherVersion, "");
}

TEST_F(ManifestTest, EmptyBodyChangesNothing) {
    info.ApplicationVersion = "9";
    std::string raw = "old";
    EXPECT_EQ(fetch("", &raw), 0);
    EXPECT_EQ(info.ApplicationVersion, "9");
    EXPECT_EQ(raw, "");
}

TEST_F(ManifestTest, RedirectsAreFollowed) {
    http.server().Get("/moved", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/LatestVersion.ini");
    });
    fetch("ApplicationVersion=redirected\n");
    info = {};
    EXPECT_EQ(fetchLatestVersionInfo(info, http.url("/moved"), nullptr, {}), 0);
    EXPECT_EQ(info.ApplicationVersion, "redirected");
}

TEST_F(ManifestTest, ErrorPagesAreParsedLikeAnyBody) {
    http.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("<html>\nNot Found\n</html>\n", "text/html");
    });
    std::string raw;
    EXPECT_EQ(fetchLatestVersionInfo(info, http.url("/missing"), &raw, {}), 1);
    EXPECT_EQ(raw, "<html>\nNot Found\n</html>\n");
}

TEST_F(ManifestTest, SizedTransfersLeaveTheProgressAt100) {
    downloadProgressPercent = 0;
    fetch("ApplicationVersion=1\n" + std::string(4000, '#') + "\n");
    EXPECT_EQ(downloadProgressPercent.load(), 100);
}

TEST_F(ManifestTest, RefusedConnectionGivesOneAndLeavesEverythingAlone) {
    const std::string url = "http://127.0.0.1:1/LatestVersion.ini";
    info.ApplicationVersion = "unchanged";
    std::string raw = "unchanged";
    EXPECT_EQ(fetchLatestVersionInfo(info, url, &raw, {}), 1);
    EXPECT_EQ(info.ApplicationVersion, "unchanged");
    EXPECT_EQ(raw, "unchanged");
    const std::string contents = log.contents();
    const auto failed = contents.find(":curl_easy_perform() failed: Couldn't connect to server\n");
    const auto status =
        contents.find(":performed installer version in-memory curl and got status: 1...\n");
    const auto download = contents.find(":Couldn't download " + url + "\n");
    ASSERT_NE(failed, std::string::npos);
    ASSERT_NE(status, std::string::npos);
    ASSERT_NE(download, std::string::npos);
    EXPECT_LT(failed, status);
    EXPECT_LT(status, download);
}

TEST_F(ManifestTest, AServerThatGoesQuietIsAbandoned) {
    const ScopedValue<long> stall(transferStallSeconds, 1);
    http.server().Get("/quiet", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::seconds(4));
        res.set_content("ApplicationVersion=late\n", "text/plain");
    });
    EXPECT_EQ(fetchLatestVersionInfo(info, http.url("/quiet"), nullptr, {}), 1);
    EXPECT_EQ(info.ApplicationVersion, "");
    EXPECT_NE(log.contents().find(":curl_easy_perform() failed: Timeout was reached\n"),
              std::string::npos);
}

TEST(ManifestOverHttps, SelfSignedCertificatesAreAccepted) {
    TempFolder folder;
    LogCapture log(folder.str());
    std::string certificate;
    std::string key;
    ASSERT_TRUE(makeSelfSignedCertificate(folder.str(), certificate, key));
    HttpTestServer https(certificate, key);
    https.server().Get("/LatestVersion.ini", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ApplicationVersion=secure\n", "text/plain");
    });
    https.start();
    LatestVersionInfo info;
    EXPECT_EQ(fetchLatestVersionInfo(info, https.url("/LatestVersion.ini"), nullptr, {}), 0);
    EXPECT_EQ(info.ApplicationVersion, "secure");
}

TEST(ManifestKeyHandler, NeverReportsALineAsMalformed) {
    LatestVersionInfo info;
    EXPECT_EQ(latestVersionKeyHandler(&info, "", "ApplicationVersion", "1"), 1);
    EXPECT_EQ(latestVersionKeyHandler(&info, "S", "LauncherVersion", "2"), 1);
    EXPECT_EQ(latestVersionKeyHandler(&info, "", "Unknown", "3"), 1);
    EXPECT_EQ(info.ApplicationVersion, "1");
    EXPECT_EQ(info.LauncherVersion, "");
}

TEST(TransferProgress, UnknownTotalsChangeNothing) {
    downloadProgressPercent = 42;
    EXPECT_EQ(transferProgressCallback(nullptr, 0, 500, 0, 0), 0);
    EXPECT_EQ(downloadProgressPercent.load(), 42);
    EXPECT_EQ(transferProgressCallback(nullptr, 3, 1, 0, 0), 0);
    EXPECT_EQ(downloadProgressPercent.load(), 33);
}

// The launcher decides what may run without a manifest from why the fetch failed.
TEST_F(ManifestTest, RecordsWhyTheLastFetchFailed) {
    const CheckedManifest accepted = check("ApplicationVersion=1\n");
    EXPECT_EQ(accepted.status, 0);
    EXPECT_EQ(accepted.failure, ManifestFailure::None);

    const CheckedManifest malformed = check("ApplicationVersion=1\nthis line has no separator\n");
    EXPECT_NE(malformed.status, 0);
    EXPECT_EQ(malformed.failure, ManifestFailure::Parse);

    const CheckedManifest unreachable =
        fetchCheckedManifest("http://127.0.0.1:1/LatestVersion.ini", {});
    EXPECT_EQ(unreachable.status, 1);
    EXPECT_EQ(unreachable.failure, ManifestFailure::Transfer);

    const CheckedManifest again = check("ApplicationVersion=2\n");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.failure, ManifestFailure::None);
}

TEST(RolloutPercent, AWholeNumberFrom0To100ElseTakenAs0AndAbsentMeansAll) {
    struct Case {
        const char* manifest;
        bool named;
        int percent;
        bool malformed;
    };
    const Case cases[] = {
        {"ApplicationVersion=2.0\n", false, 100, false},
        {"RolloutPercent=0\n", true, 0, false},
        {"RolloutPercent=100\n", true, 100, false},
        {"RolloutPercent: 37 ; a third or so\n", true, 37, false},
        {"RolloutPercent=007\n", true, 7, false},
        {"RolloutPercent=5\nRolloutPercent=60\n", true, 60, false},
        {"RolloutPercent=101\n", true, 0, true},
        {"RolloutPercent=-1\n", true, 0, true},
        {"RolloutPercent=5O\n", true, 0, true},
        {"RolloutPercent=\n", true, 0, true},
        {"RolloutPercent=+5\n", true, 0, true},
        {"RolloutPercent=50%\n", true, 0, true},
        {"RolloutPercent=12.5\n", true, 0, true},
        {"RolloutPercent=99999999999999999999\n", true, 0, true},
        // Read by the manifest's rules: top level only, the exact name.
        {"[beta]\nRolloutPercent=5\n", false, 100, false},
        {"rolloutpercent=5\n", false, 100, false},
    };
    for (const Case& c : cases) {
        const Rollout rollout = readRollout(c.manifest);
        EXPECT_EQ(rollout.named, c.named) << c.manifest;
        EXPECT_EQ(rollout.percent, c.percent) << c.manifest;
        EXPECT_EQ(rollout.malformed, c.malformed) << c.manifest;
    }
}

TEST(RolloutPercent, RaisingItOnlyEverAddsPlayersAHundredthOfTheNumbersAPercent) {
    for (int percent = 0; percent <= 100; ++percent) {
        std::uint32_t within = 0;
        for (std::uint32_t number = 0; number < installNumberCount; ++number) {
            const bool in = installNumberIsWithin(number, percent);
            within += in ? 1 : 0;
            if (in && percent < 100) {
                ASSERT_TRUE(installNumberIsWithin(number, percent + 1)) << number << " " << percent;
            }
        }
        EXPECT_EQ(within, static_cast<std::uint32_t>(percent) * 100) << percent;
    }
}
