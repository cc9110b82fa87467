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

    // A further place serving bytes as /game.zip, with ranges; the start of each data request
    // it answered goes to starts.
    std::string mirror(const std::string& bytes, std::vector<std::size_t>& starts) {
        auto& server = *mirrors.emplace_back(std::make_unique<HttpTestServer>());
        server.server().Get("/game.zip", [bytes, &starts](const httplib::Request&,
                                                          httplib::Response& response) {
            response.set_content_provider(
                bytes.size(), "application/zip",
                [bytes, &starts](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    if (length > dataRequestBytes) {
                        starts.push_back(offset);
                    }
                    return sink.write(bytes.data() + offset, length);
                });
        });
        server.start();
        return server.url("/game.zip");
    }

    // The entry-wise road, then the start, as the installer's worker takes them: none when the
    // road is not possible, 1 when it failed, else the start's result.
    std::optional<int> install(const std::vector<std::string>& places = {}, int connections = 1) {
        TransferSettings transfer;
        transfer.contentConnections = connections;
        const EntryWiseInstall result =
            installContentEntryWise(http.url("/game.zip"), data.str(), "Drift Moor.zip",
                                    "Drift Moor.app", std::nullopt, transfer, {}, places);
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
    std::vector<std::unique_ptr<HttpTestServer>> mirrors;
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

TEST_F(EntryWiseRetry, ARunThatFailsAtOnePlaceGoesOnFromTheNextMirrorKeepingWhatIsStaged) {
    // The archive's one big entry is stored: what arrived from the first place stays staged.
    const std::string other = zipBytes(
        scratch,
        {gameExecutableEntry("Drift Moor", scratch / "game.pid"),
         fileEntry("Drift Moor.app/Contents/Resources/level.dat", randomBytes(1024), 0644, true)});
    std::string sameSizeOther = archive;
    // Past the half of level.dat's stored bytes that the first place brings: its CRC-32 fails.
    sameSizeOther[archive.size() * 3 / 4] ^= 0x01;
    const struct {
        const char* what;
        std::vector<const std::string*> mirrored; // the mirrors' archives, in order
        std::optional<int> result;
        std::vector<const char*> lines; // run-log texts, in order
        bool resumed; // the last mirror carried on after the bytes the first place brought
    } cases[] = {
        {"a mirror with the archive",
         {&archive},
         0,
         {"Transferred a partial file), carrying on from"},
         true},
        {"a mirror with another size, then one with the archive",
         {&other, &archive},
         0,
         {"carrying on from", "(its archive has another size", "carrying on from"},
         true},
        // Bytes that failed their check leave nothing staged worth carrying on from.
        {"a mirror whose entry fails its check, then one with the archive",
         {&sameSizeOther, &archive},
         0,
         {"carrying on from", "CRC", "carrying on from"},
         false},
        {"only a mirror with another size",
         {&other},
         1,
         {"another size", "curl_easy_perform() failed: Transferred a partial file"},
         false},
    };
    // Half of the first data request arrives, then the place serves nothing more.
    serve([](int request) { return request == 1 ? 0.5 : 0.0; });
    for (const int connections : {1, 4})
        for (const auto& test : cases) {
            SCOPED_TRACE(std::string(test.what) + ", connections: " + std::to_string(connections));
            fs::remove_all(data.path());
            fs::create_directories(data.path());
            dataRequests = 0;
            mirrors.clear();
            std::vector<std::vector<std::size_t>> starts(test.mirrored.size());
            std::vector<std::string> places;
            for (std::size_t at = 0; at < test.mirrored.size(); ++at) {
                places.push_back(mirror(*test.mirrored[at], starts[at]));
            }
            EXPECT_EQ(install(places, connections), test.result) << log();
            std::size_t from = 0;
            for (const char* line : test.lines) {
                from = log().find(line, from);
                EXPECT_NE(from, std::string::npos) << line << "\n" << log();
            }
            if (test.result != 0) {
                continue;
            }
            EXPECT_EQ(readFile(data / "Drift Moor.app/Contents/Resources/level.dat"), level);
            ASSERT_FALSE(starts.back().empty());
            EXPECT_EQ(starts.back().front() > level.size() / 4, test.resumed)
                << starts.back().front();
            EXPECT_GT(waitForPid(scratch / "game.pid"), 0);
        }
}
