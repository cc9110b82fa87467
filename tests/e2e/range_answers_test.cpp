// Range answers that are allowed but odd, and an archive republished while the launcher reads it:
// the built launcher against nginx (behind a relay that can hold a request back) and against a
// small Python server for the answers nginx will not give.
#include "tests/e2e/entry_wise_fixture.h"
#include "tests/e2e/script_server.h"
#include "tests/e2e/tcp_relay.h"

#include <chrono>
#include <thread>

namespace fs = std::filesystem;

namespace {

class RangeAnswers : public EntryWiseInstall {
  protected:
    // The manifest on nginx names release 1.0 at archiveUrl, wherever that is served.
    void announceAt(const std::string& archiveUrl) {
        runPublish({"manifest", "--application-version", "1.0", "--application-url", archiveUrl,
                    "--executable-prefix", "", "--launcher-version", "1.0", "--launcher-url",
                    server->url("/none.zip"), "--output",
                    (releases / "LatestVersion.ini").string()});
        configure("1.0", "/LatestVersion.ini");
    }

    // The odd server's requests, one line each: "<path> <Range or -> <status> <bytes>".
    std::vector<std::string> oddRequests() const {
        std::vector<std::string> lines;
        std::istringstream log(readFile(oddLog));
        for (std::string line; std::getline(log, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    void expectInstalledWhole(const std::string& archive) {
        ASSERT_EQ(gameStarts(1).size(), 1u);
        EXPECT_TRUE(installedTree() == plainUnpack(archive)) << "the install differs from unzip's";
        EXPECT_FALSE(lastRunMentions("curl_easy_perform() failed"));
    }

    std::string fallbackLine(const std::string& url, const std::string& why) const {
        return "entry-wise install of " + url + " not possible, fetching the whole archive: " + why;
    }

    const fs::path oddLog = sandbox.root / "odd-requests.txt";
};

} // namespace

// Some CDNs cap what one range answer carries. Each short answer is progress: the launcher asks
// for the rest at once. (It used to wait a second after each, which here, some six hundred
// answers, would outlast the sandbox's two-minute limit on a run many times over.)
TEST_F(RangeAnswers, AServerThatCapsRangeAnswersIsReadOnWithoutPauses) {
    SKIP_WITHOUT_DISPLAY();
    const std::string archive = publishWithAssets("1.0");
    const ScriptServer odd("odd_range_server.py",
                           {releases.string(), "--cap", "1024", "--log", oddLog.string()});
    announceAt(odd.url(archive));
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    expectInstalledWhole(archive);
    EXPECT_FALSE(lastRunMentions("not possible, fetching the whole archive"));
    const auto archiveBytes = fs::file_size(releases / archive.substr(1));
    EXPECT_GE(oddRequests().size(), archiveBytes / 1024 / 2) << "the answers were short ones";
}

TEST_F(RangeAnswers, RangesInAnEncodingNeverAskedForTakeTheWholeArchiveRoad) {
    SKIP_WITHOUT_DISPLAY();
    const std::string archive = publishWithAssets("1.0");
    const ScriptServer odd("odd_range_server.py",
                           {releases.string(), "--gzip-ranges", "--log", oddLog.string()});
    const std::string url = odd.url(archive);
    announceAt(url);
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(lastRunHas(fallbackLine(url, "the server answered a range request in "
                                             "Content-Encoding gzip, which the launcher did not "
                                             "ask for")));
    EXPECT_FALSE(lastRunMentions("Zlib error"));
    expectInstalledWhole(archive);
    EXPECT_EQ(oddRequests().back(),
              archive + " - 200 " + std::to_string(fs::file_size(releases / archive.substr(1))));
}

TEST_F(RangeAnswers, AMultipartAnswerSaysWhatWasWrong) {
    SKIP_WITHOUT_DISPLAY();
    const std::string archive = publishWithAssets("1.0");
    const ScriptServer odd("odd_range_server.py",
                           {releases.string(), "--multipart", "--log", oddLog.string()});
    const std::string url = odd.url(archive);
    announceAt(url);
    const ChildResult result = runLauncher();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(lastRunHas(fallbackLine(
        url, "the server answered a range request with a multipart answer (multipart/byteranges; "
             "boundary=a1b2c3d4e5) instead of the one range asked for")));
    EXPECT_FALSE(lastRunMentions("status 206 instead of 206"));
    expectInstalledWhole(archive);
}

// The archive is republished under the same URL between the launcher's first range request and
// its next: the next one carries If-Range, nginx answers it with the whole (new) file, and the
// launcher plans again from the new archive instead of splicing the two.
TEST_F(RangeAnswers, AnArchiveRepublishedWhileItIsReadIsPlannedAgainNeverSpliced) {
    SKIP_WITHOUT_DISPLAY();
    const std::string first = publishWithAssets("1.0");
    const std::string second = publishWithAssets("2.0", {1, 5, 9, 17}, "added.dat");
    const fs::path served = releases / "game.zip";
    fs::copy_file(releases / first.substr(1), served);
    TcpRelay relay(server->port());
    const std::string url = "http://127.0.0.1:" + std::to_string(relay.port()) + "/game.zip";
    announceAt(url);

    relay.holdAfterRequests(1); // the tail's request goes through; the next one waits
    auto run = startLauncher();
    for (int i = 0; i < 1200 && !relay.holding(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(relay.holding()) << "the launcher never asked for more than the tail";
    const fs::path replacement = releases / "game.zip.new";
    fs::copy_file(releases / second.substr(1), replacement);
    fs::rename(replacement, served);
    relay.release();
    const ChildResult result = run.get();

    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const auto messages = sandbox.logMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "entry-wise install of " + url +
                            ": the archive changed on the server since its first answer; "
                            "planning again from the new archive"),
              messages.end())
        << sandbox.logText();
    EXPECT_TRUE(installedTree() == plainUnpack(second)) << "not the new archive as unzip has it";
    const auto starts = gameStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].version, "2.0");
    EXPECT_EQ(requestsFor("GET /game.zip 200"), 1) << "the request with the old validator";
}
