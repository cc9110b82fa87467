// Entry-wise installs cut off half way, by the server going away or by the launcher being killed:
// the next run fetches only what the first did not put in place.
#include "tests/e2e/entry_wise_fixture.h"
#include "tests/e2e/tcp_relay.h"

#include <csignal>
#include <functional>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Ids of the running processes whose program is executable (the launcher and the content
// installer it started, in this test's own sandbox).
std::vector<int> processesOf(const fs::path& executable) {
    std::vector<int> found;
    const fs::path wanted = fs::canonical(executable);
    for (const auto& item : fs::directory_iterator("/proc")) {
        const std::string name = item.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code error;
        const fs::path program = fs::read_symlink(item.path() / "exe", error);
        if (!error && program == wanted && processIsAlive(std::stoi(name))) {
            found.push_back(std::stoi(name));
        }
    }
    return found;
}

class EntryWiseResume : public EntryWiseInstall {
  protected:
    // About 5 MiB, so that what any run costs beyond its entries (the archive's end, the entry
    // cut off, what the server had sent into the socket at the cut) stays well inside the 10 %
    // allowed, also on a busy machine.
    EntryWiseResume() { assetSize = 192 * 1024; }

    // Assets of the sample game put in place so far.
    int assetsInPlace() const {
        int count = 0;
        for (int n = 0; n < assetCount; ++n) {
            count += fs::is_regular_file(dataFolder / assetPath(n)) ? 1 : 0;
        }
        return count;
    }

    // Assets fetched, verified and staged so far: until every entry is, the game is not touched.
    int assetsStaged() const {
        int count = 0;
        for (int n = 0; n < assetCount; ++n) {
            count +=
                fs::is_regular_file(dataFolder / ".launcher-staging/tree" / assetPath(n)) ? 1 : 0;
        }
        return count;
    }

    // Runs the launcher on its own thread and calls cut once half of the assets are staged.
    ChildResult runCutAtHalf(const std::function<void()>& cut) {
        ChildResult result;
        std::thread run([&] { result = runLauncher(); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (assetsStaged() < assetCount / 2 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_LT(assetsStaged(), assetCount) << "the install was not slowed down enough";
        cut();
        run.join();
        return result;
    }

    // Slow enough that half an install takes seconds.
    static constexpr const char* slowly = "        limit_rate 384k;\n";
};

} // namespace

TEST_F(EntryWiseResume, AConnectionDroppedHalfWayIsResumedByTheNextRun) {
    SKIP_WITHOUT_DISPLAY();
    serve({.extraDirectives = slowly});
    const std::string archive = publishWithAssets("1.0");
    // The archive through a relay that the network's going away cuts.
    TcpRelay relay(server->port());
    publishManifest("1.0", relay.url(archive), "", "1.0");
    configure("1.0", "/LatestVersion.ini");
    const ChildResult cut = runCutAtHalf([&] { relay.cut(); });
    EXPECT_EQ(cut.exitStatus, 1) << cut.standardError;
    EXPECT_TRUE(lastRunHas("curl_easy_perform() failed: Couldn't connect to server"));
    EXPECT_TRUE(gameStarts(1).empty());
    EXPECT_GE(assetsStaged(), assetCount / 2);
    EXPECT_EQ(assetsInPlace(), 0) << "nothing is put in place before every entry is staged";
    const long long firstBytes = relay.bytesBack();
    const long long before = server->bytesSent(archive);

    announce("1.0", archive);
    const ChildResult resumed = runLauncher();
    EXPECT_EQ(resumed.exitStatus, 0) << resumed.standardError;
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(installedTree(), plainUnpack(archive));
    const auto archiveBytes = static_cast<long long>(fs::file_size(releases / archive.substr(1)));
    const long long secondBytes = server->bytesSent(archive) - before;
    EXPECT_GT(firstBytes, archiveBytes / 3);
    EXPECT_LE(firstBytes + secondBytes, archiveBytes * 11 / 10)
        << firstBytes << " + " << secondBytes << " of " << archiveBytes;
}

TEST_F(EntryWiseResume, ALauncherKilledHalfWayIsResumedByTheNextRun) {
    SKIP_WITHOUT_DISPLAY();
    serve({.extraDirectives = slowly});
    const std::string archive = publishWithAssets("1.0");
    announce("1.0", archive);
    const ChildResult cut = runCutAtHalf([&] {
        for (const int pid : processesOf(sandbox.launcherExecutable())) {
            kill(pid, SIGKILL);
        }
    });
    EXPECT_NE(cut.exitStatus, 0);
    EXPECT_TRUE(gameStarts(1).empty());
    EXPECT_GE(assetsStaged(), assetCount / 2);
    EXPECT_EQ(assetsInPlace(), 0) << "nothing is put in place before every entry is staged";

    // The same server: the bytes of the cut request are in its log with those of the next run.
    const ChildResult resumed = runLauncher();
    EXPECT_EQ(resumed.exitStatus, 0) << resumed.standardError;
    ASSERT_EQ(gameStarts(1).size(), 1u);
    EXPECT_EQ(installedTree(), plainUnpack(archive));
    const auto archiveBytes = static_cast<long long>(fs::file_size(releases / archive.substr(1)));
    EXPECT_LE(server->bytesSent(archive), archiveBytes * 11 / 10) << server->bytesSent(archive);
}
