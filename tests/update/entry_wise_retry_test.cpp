// Range requests that the server cuts short are asked again from where they stopped, with the
// retry delays lowered; tries that bring nothing end the install with libcurl's text.
#include "update/download_and_launch.h"
#include "update/entry_stream_install.h"

#include "tests/update/download_test_support.h"
#include "update/http/range_reader.h"

#include <functional>
#include <random>

namespace fs = std::filesystem;

namespace {

// Requests longer than this carry entry data; shorter ones are the reads that parse the archive.
constexpr std::size_t dataRequestBytes = 256 * 1024;

std::string randomBytes(std::size_t size) {
    std::mt19937 generator(7);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

class EntryWiseRetry : public GameInstallTest {
  protected:
    void SetUp() override {
        LoggedTest::SetUp();
        rangeRetryBaseMilliseconds = 10;
        archive = zipBytes(
            scratch, {gameExecutableEntry("Drift Moor", scratch / "game.pid"),
                      fileEntry("Drift Moor.app/Contents/Resources/level.dat", level, 0644, true)});
    }
    void TearDown() override { rangeRetryBaseMilliseconds = 1000; }

    // Serves the archive with ranges; a data request is cut after the share of its bytes that
    // cutShare gives for it (1: sent whole).
    void serve(std::function<double(int)> cutShare) {
        http.server().Get("/game.zip", [this, cutShare](const httplib::Request&,
                                                        httplib::Response& response) {
            response.set_content_provider(
                archive.size(), "application/zip",
                [this, cutShare](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    std::size_t send = length;
                    if (length > dataRequestBytes) {
                        send = static_cast<std::size_t>(length * cutShare(++dataRequests));
                    }
                    for (std::size_t done = 0; done < send;) {
                        const std::size_t piece = std::min<std::size_t>(16 * 1024, send - done);
                        if (!sink.write(archive.data() + offset + done, piece)) {
                            return false;
                        }
                        done += piece;
                    }
                    return send == length;
                });
        });
        http.start();
    }

    // The entry-wise road, then the start, as the installer's worker takes them: none when the
    // road is not possible, 1 when it failed, else the start's result.
    std::optional<int> install() {
        const EntryWiseInstall result =
            installContentEntryWise(http.url("/game.zip"), data.str(), "Drift Moor.zip",
                                    "Drift Moor.app", std::nullopt, {});
        if (result == EntryWiseInstall::NotPossible) {
            return std::nullopt;
        }
        if (result == EntryWiseInstall::Failed) {
            return 1;
        }
        return launchUnpackedApplication(data.str(), "Drift Moor.app");
    }

    const std::string level = randomBytes(1024 * 1024);
    std::string archive;
    std::atomic<int> dataRequests{0};
    HttpTestServer http;
};

} // namespace

TEST_F(EntryWiseRetry, ADroppedRangeRequestIsAskedAgainAndTheInstallEndsInOneRun) {
    // The first data request stops half way, the second a little further on.
    serve([](int request) { return request == 1 ? 0.5 : (request == 2 ? 0.3 : 1.0); });
    EXPECT_EQ(install(), std::optional<int>(0)) << log();
    EXPECT_EQ(dataRequests.load(), 3);
    EXPECT_EQ(readFile(data / "Drift Moor.app/Contents/Resources/level.dat"), level);
    EXPECT_GT(waitForPid(scratch / "game.pid"), 0);
    EXPECT_EQ(log().find("curl_easy_perform() failed"), std::string::npos) << log();
}

TEST_F(EntryWiseRetry, FiveTriesWithoutProgressEndTheInstallWithLibcurlsText) {
    // Half of the data arrives, then nothing more.
    serve([](int request) { return request == 1 ? 0.5 : 0.0; });
    EXPECT_EQ(install(), std::optional<int>(1)) << log();
    EXPECT_EQ(dataRequests.load(), 6); // the cut one and five that brought nothing
    EXPECT_TRUE(logged("curl_easy_perform() failed: Transferred a partial file")) << log();
    EXPECT_FALSE(fs::exists(data / "Drift Moor.app/Contents/Resources/level.dat"));
    EXPECT_EQ(waitForPid(scratch / "game.pid", std::chrono::milliseconds(200)), 0);
}
