// The archive download against what a hostile network or another local user can do: other
// protocols, a crawling server, names that lead out of the folder, links and files planted
// where the archive is written. And the percentage the window shows before the first byte.
#include "tests/support/child_process.h"
#include "tests/support/other_user.h"
#include "tests/support/scoped_value.h"
#include "tests/support/trickle_route.h"
#include "tests/update/download_test_support.h"
#include "update/download_and_launch.h"
#include "update/http/curl_session.h"
#include "update/http/transfer_progress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class ArchiveDownloadSafety : public GameInstallTest {
  protected:
    const std::string appName = "Drift Moor.app";

    std::string gameArchive() const {
        return zipBytes(scratch, {gameExecutableEntry("Drift Moor", scratch / "game.pid")});
    }
    int install(const std::string& url, std::string folder,
                const std::string& archiveName = "Drift Moor.zip") {
        return performToFileCurlAndExecute(url, folder, archiveName, appName);
    }
    fs::path archivePath() const { return data / "Drift Moor.zip"; }
};

} // namespace

TEST_F(ArchiveDownloadSafety, OnlyHttpAndHttpsAreDownloaded) {
    writeFile(scratch / "game.zip", gameArchive());
    EXPECT_EQ(install("file://" + scratch.str() + "/game.zip", data.str()), 1);
    EXPECT_TRUE(logged("curl_easy_perform() failed: Unsupported protocol")) << log();
    EXPECT_FALSE(fs::exists(data / appName));
    EXPECT_EQ(waitForPid(scratch / "game.pid", 500ms), 0);
}

TEST_F(ArchiveDownloadSafety, AnArchiveSlowerThan1KiBPerSecondIsAborted) {
    HttpTestServer http;
    // Ten bytes a second for six seconds: enough for the old 1 byte/s stall rule.
    serveTrickle(http.server(), "/crawl.zip", "application/zip", 60, 100ms);
    http.start();
    const ScopedValue<long> stall(transferStallSeconds, 2);
    const int result = install(http.url("/crawl.zip"), data.str());
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(logged("curl_easy_perform() failed: Timeout was reached")) << log();
    EXPECT_FALSE(logged("failed to unzip file"));
}

TEST_F(ArchiveDownloadSafety, TheDownloadStartsAtZeroPercent) {
    const std::string archive = gameArchive();
    std::atomic<int> seenAtRequest{-1};
    HttpTestServer http;
    http.server().Get("/game.zip", [&](const httplib::Request&, httplib::Response& res) {
        seenAtRequest = downloadProgressPercent.load();
        res.set_content(archive, "application/zip");
    });
    http.start();
    downloadProgressPercent.store(100); // where the manifest fetch leaves it
    ASSERT_EQ(install(http.url("/game.zip"), data.str()), 0) << log();
    EXPECT_EQ(seenAtRequest.load(), 0) << "the window showed a percentage before any byte";
    EXPECT_EQ(downloadProgressPercent.load(), 100);
    EXPECT_GT(waitForPid(scratch / "game.pid"), 0); // so that the reaper finds it
}

TEST_F(ArchiveDownloadSafety, NamesThatLeaveTheFolderAreRefusedBeforeTheDownload) {
    ContentServer server(gameArchive());
    const fs::path inner = data / "inner";
    fs::create_directories(inner);
    std::string folder = inner.string();
    EXPECT_EQ(
        performToFileCurlAndExecute(server.url("/game.zip"), folder, "../Drift Moor.zip", appName),
        1);
    EXPECT_TRUE(logged("refusing to download outside " + inner.string() + "/: " + inner.string() +
                       "/../Drift Moor.zip"))
        << log();
    EXPECT_FALSE(fs::exists(archivePath()));

    EXPECT_EQ(performToFileCurlAndExecute(server.url("/game.zip"), folder, "Drift Moor.zip",
                                          "../" + appName),
              1);
    EXPECT_TRUE(logged("refusing to start an application outside " + inner.string() +
                       "/: " + inner.string() + "/../" + appName));
    EXPECT_EQ(server.archiveRequests(), 0) << "nothing is downloaded for a refused name";
    EXPECT_TRUE(listTree(inner).empty());
}

TEST_F(ArchiveDownloadSafety, APlantedLinkIsReplacedNotWrittenThrough) {
    ContentServer server(gameArchive());
    writeFile(scratch / "victim", "keep me");
    fs::create_symlink(scratch / "victim", archivePath());
    EXPECT_EQ(install(server.url("/game.zip"), data.str()), 0) << log();
    EXPECT_EQ(readFile(scratch / "victim"), "keep me");
    EXPECT_FALSE(fs::exists(fs::symlink_status(archivePath())));
    EXPECT_GT(waitForPid(scratch / "game.pid"), 0);
}

TEST_F(ArchiveDownloadSafety, AFileAnotherUserLeftIsNotReused) {
    const OtherUser nobody = otherUser();
    SKIP_WITHOUT_OTHER_USER(nobody);
    // A folder the other user may write to, as a shared temporary folder would be.
    TempFolder shared("/tmp");
    fs::permissions(shared.path(), fs::perms(0777));
    const std::string planted = (shared / "Drift Moor.zip").string();
    const std::string kept = (shared / "kept").string();
    ASSERT_TRUE(runAs(nobody, [&] {
        const int fd = ::open(planted.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        return fd >= 0 && ::write(fd, "mine", 4) == 4 && ::close(fd) == 0 &&
               ::link(planted.c_str(), kept.c_str()) == 0;
    }));

    ContentServer server(gameArchive());
    EXPECT_EQ(install(server.url("/missing"), shared.str()), 1);
    EXPECT_TRUE(logged("failed to unzip file")) << log();
    struct stat archive {};
    ASSERT_EQ(::lstat(planted.c_str(), &archive), 0);
    EXPECT_EQ(archive.st_uid, ::geteuid()) << "the download went into the other user's file";
    EXPECT_EQ(readFile(planted), "<html>Not Found</html>");
    EXPECT_EQ(readFile(kept), "mine");
}
