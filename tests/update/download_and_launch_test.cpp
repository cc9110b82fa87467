#include "update/download_and_launch.h"

#include "tests/support/child_process.h"
#include "tests/support/file_modes.h"
#include "tests/support/scoped_value.h"
#include "tests/update/download_test_support.h"
#include "update/http/curl_session.h"
#include "update/http/transfer_progress.h"
#include "update/unzip_progress.h"

#include <csignal>
#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {

class DownloadTest : public GameInstallTest {
  protected:
    const std::string appName = "Drift Moor.app";

    std::vector<ZipEntrySpec> gameEntries(mode_t executablePermissions = 0755) const {
        return {gameExecutableEntry("Drift Moor", scratch / "game.pid", executablePermissions),
                fileEntry("Drift Moor.app/Contents/Resources/save.dat", "levels", 0600, true),
                fileEntry("Drift Moor.app/Contents/Resources/maps.zip",
                          zipBytes(scratch, {fileEntry("map.txt", "map")}), 0644, true),
                linkEntry("Drift Moor.app/Contents/Current", "Resources")};
    }
    std::string gameArchive() const { return zipBytes(scratch, gameEntries()); }

    int install(const std::string& url, std::string folder) {
        return performToFileCurlAndExecute(url, folder, "Drift Moor.zip", appName);
    }
    fs::path archivePath() const { return data / "Drift Moor.zip"; }
    std::string appPath() const { return data.str() + "/" + appName; }
};

TEST_F(DownloadTest, InstallsStartsTheGameAndDeletesTheArchive) {
    ContentServer server(gameArchive());
    const std::string folder = data.str(); // no trailing "/": the texts add one
    const std::string url = server.url("/game.zip");

    ASSERT_EQ(performToFileCurlAndExecute(url, folder, "Drift Moor.zip", appName), 0) << log();

    EXPECT_EQ(folder, data.str()) << "the caller's folder is left as it was";
    const int pid = waitForPid(scratch / "game.pid");
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(processIsAlive(pid));
    EXPECT_FALSE(fs::exists(archivePath()));
    const fs::path app = data / appName;
    EXPECT_EQ(permissionsOf(app / "Contents/MacOS/Drift Moor"), 0755);
    EXPECT_EQ(readFile(app / "Contents/Resources/save.dat"), "levels");
    EXPECT_EQ(permissionsOf(app / "Contents/Resources/save.dat"), 0600);
    EXPECT_EQ(fs::read_symlink(app / "Contents/Current"), "Resources");
    EXPECT_TRUE(fs::is_regular_file(app / "Contents/Resources/maps.zip"));
    EXPECT_FALSE(fs::exists(app / "Contents/Resources/map.txt"));
    EXPECT_EQ(downloadProgressPercent.load(), 100);
    EXPECT_EQ(unzipProgressPercent.load(), 100);
    EXPECT_EQ(server.userAgent(), "libcurl-agent/1.0");
    EXPECT_TRUE(logged("performToFileCurlAndExecute start - url:" + url +
                       " downloadToFilePath:" + data.str() +
                       "/ downloadToFileName:Drift Moor.zip "
                       "downloadedExecutableToRun:Drift Moor.app"));
}

TEST_F(DownloadTest, AnUnknownSizeLeavesTheDownloadPercentageAtItsStart) {
    ContentServer server(gameArchive());
    downloadProgressPercent.store(37);
    ASSERT_EQ(install(server.url("/nolength.zip"), data.str()), 0) << log();
    EXPECT_GT(waitForPid(scratch / "game.pid"), 0);
    EXPECT_EQ(downloadProgressPercent.load(), 0);
    EXPECT_EQ(unzipProgressPercent.load(), 100);
}

TEST_F(DownloadTest, AnArchiveFileThatCannotBeCreatedStopsBeforeTheTransfer) {
    ContentServer server(gameArchive());
    EXPECT_EQ(install(server.url("/game.zip"), (data / "missing").string()), 1);
    EXPECT_TRUE(logged("Failed to open file"));
    EXPECT_EQ(server.archiveRequests(), 0);
    EXPECT_TRUE(listTree(data.path()).empty());
}

TEST_F(DownloadTest, FailedTransfersKeepWhatArrivedAndReportLibcurlsText) {
    const std::string archive = gameArchive();
    ContentServer server(archive);
    std::string closedUrl;
    {
        HttpTestServer gone;
        gone.start();
        closedUrl = gone.url("/game.zip");
    }
    EXPECT_EQ(install(closedUrl, data.str()), 1);
    EXPECT_TRUE(logged("curl_easy_perform() failed: Couldn't connect to server"));
    EXPECT_TRUE(fs::exists(archivePath()));

    EXPECT_EQ(install(server.url("/drop"), data.str()), 1);
    EXPECT_TRUE(logged("curl_easy_perform() failed: Transferred a partial file"));
    EXPECT_EQ(readFile(archivePath()), archive.substr(0, archive.size() / 2));
}

TEST_F(DownloadTest, AStalledTransferIsAbortedLikeABrokenOne) {
    ContentServer server(gameArchive());
    const ScopedValue<long> stall(transferStallSeconds, 1);
    const int result = install(server.url("/stall"), data.str());
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(logged("curl_easy_perform() failed: Timeout was reached")) << log();
    EXPECT_EQ(readFile(archivePath()), "PK");
}

TEST_F(DownloadTest, AFullDiskEndsTheTransferWithTheWriteError) {
    // A file size limit stands in for the full disk: writes past it fail with EFBIG.
    auto entries = gameEntries();
    entries.push_back(fileEntry("Drift Moor.app/Contents/Resources/big.dat",
                                std::string(256 * 1024, 'x'), 0644, true));
    ContentServer server(zipBytes(scratch, entries));
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit lowered{64 * 1024, saved.rlim_max};
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &lowered);
    const int result = install(server.url("/game.zip"), data.str());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(
        logged("curl_easy_perform() failed: Failed writing received data to disk/application"))
        << log();
    EXPECT_FALSE(logged("failed to unzip file"));
}

TEST_F(DownloadTest, ErrorPagesAndRedirectsAreSavedAndFailTheUnpack) {
    ContentServer server(gameArchive());
    EXPECT_EQ(install(server.url("/missing"), data.str()), 1);
    EXPECT_TRUE(logged("failed to unzip file"));
    EXPECT_EQ(readFile(archivePath()), "<html>Not Found</html>");

    EXPECT_EQ(install(server.url("/redirect"), data.str()), 1);
    EXPECT_EQ(readFile(archivePath()), "<html>moved</html>");
    EXPECT_EQ(server.archiveRequests(), 0) << "the redirect was followed";
    EXPECT_EQ(unzipProgressPercent.load(), 0);
}

TEST_F(DownloadTest, AFailedUnpackKeepsTheArchiveAndStaysBelowAHundredPercent) {
    auto entries = gameEntries();
    entries.push_back(
        fileEntry("Drift Moor.app/Contents/Resources/last.dat", "0123456789", 0644, true));
    std::string archive = zipBytes(scratch, entries);
    archive[archive.find("0123456789") + 5] = '#';
    ContentServer server(archive);

    EXPECT_EQ(install(server.url("/game.zip"), data.str()), 1);
    EXPECT_TRUE(logged("failed to unzip file"));
    EXPECT_EQ(readFile(archivePath()), archive);
    EXPECT_TRUE(fs::exists(data / appName / "Contents/Resources/save.dat"));
    EXPECT_GT(unzipProgressPercent.load(), 0);
    EXPECT_LT(unzipProgressPercent.load(), 99);
    EXPECT_EQ(downloadProgressPercent.load(), 100);
}

TEST_F(DownloadTest, AMissingBundleIsReportedAfterTheArchiveIsGone) {
    ContentServer server(
        zipBytes(scratch, {fileEntry("Other.app/Contents/MacOS/Other", "x", 0755)}));
    EXPECT_EQ(install(server.url("/game.zip"), data.str()), 1);
    EXPECT_TRUE(logged("app executable not found after unzipping! appExecutableNS: " + appPath()));
    EXPECT_FALSE(fs::exists(archivePath()));
    EXPECT_TRUE(fs::exists(data / "Other.app/Contents/MacOS/Other"));
}

TEST_F(DownloadTest, ABundleThatDoesNotRunIsReported) {
    ContentServer server(zipBytes(scratch, gameEntries(0644)));
    EXPECT_EQ(install(server.url("/game.zip"), data.str()), 1);
    EXPECT_TRUE(logged("failed to start app: " + appPath()));
}

TEST_F(DownloadTest, AnArchiveThatCannotBeDeletedStillStartsTheGame) {
    ContentServer server(gameArchive());
    // Append-only: files can be created in the folder but not removed from it.
    if (std::system(("chattr +a '" + data.str() + "' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "chattr +a is not available here";
    }
    const int result = install(server.url("/game.zip"), data.str());
    std::system(("chattr -a '" + data.str() + "'").c_str());
    EXPECT_EQ(result, 0) << log();
    EXPECT_TRUE(logged("Error deleting zip file"));
    EXPECT_TRUE(fs::exists(archivePath()));
    EXPECT_GT(waitForPid(scratch / "game.pid"), 0);
}

TEST_F(DownloadTest, ABundleNameThatLeavesTheFolderIsNotStarted) {
    // A game already lies one level up; a name from the manifest must not reach it.
    const ZipEntrySpec executable = gameExecutableEntry("Drift Moor", scratch / "game.pid");
    writeFile(data / executable.name, executable.data);
    fs::permissions(data / executable.name, fs::perms(0755));
    ContentServer server(zipBytes(scratch, {fileEntry("readme.txt", "x")}));
    std::string folder = (data / "inner").string();
    fs::create_directories(folder);

    EXPECT_EQ(performToFileCurlAndExecute(server.url("/game.zip"), folder, "Drift Moor.zip",
                                          "../" + appName),
              1);
    // The folder is named in the texts with its trailing "/".
    const std::string folderText = folder + "/";
    EXPECT_TRUE(logged("refusing to start an application outside " + folderText + ": " +
                       folderText + "../" + appName));
    EXPECT_EQ(waitForPid(scratch / "game.pid", std::chrono::seconds(1)), 0);
}

} // namespace

namespace {

TEST(UnzipHandlersTest, ProgressScalesToNinetyNineAndOnlySuccessCompletes) {
    unzipProgressPercent.store(42);
    unzipProgressHandler("a", 3, 0);
    EXPECT_EQ(unzipProgressPercent.load(), 42) << "no entries: left alone";
    unzipProgressHandler("a", 1, 3);
    EXPECT_EQ(unzipProgressPercent.load(), 33);
    unzipProgressHandler("a", 3, 3);
    EXPECT_EQ(unzipProgressPercent.load(), 99);
    finishUnzipProgress(false);
    EXPECT_EQ(unzipProgressPercent.load(), 99);
    finishUnzipProgress(true);
    EXPECT_EQ(unzipProgressPercent.load(), 100);
}

} // namespace
