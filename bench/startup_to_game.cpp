// How long the up-to-date road takes: from starting the launcher bundle to the game's process
// start, with the manifest served on loopback, next to starting the same game directly; how long
// the launcher lives on after the game has started; and the launcher's peak resident memory.
//
//   startup_to_game <Launcher.app> <stamp_game> [runs]
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
extern char** environ;

namespace {

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Starts program with its standard error (libcurl's trace) silenced.
pid_t spawn(const std::string& program) {
    std::vector<char*> argv{const_cast<char*>(program.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int failed =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        std::perror("posix_spawn");
        std::exit(2);
    }
    return child;
}

// The game's own record of its start (monotonic seconds); removes the record.
double readStart(const std::string& record) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2)); // let the writer finish
    std::ifstream file(record);
    long long seconds = 0;
    long nanoseconds = 0;
    file >> seconds >> nanoseconds;
    fs::remove(record);
    return static_cast<double>(seconds) + static_cast<double>(nanoseconds) / 1e9;
}

// Seconds from startedAt to the game's own record of its start.
double waitForStart(const std::string& gameExecutable, double startedAt) {
    const std::string record = gameExecutable + ".start";
    for (int i = 0; i < 5000 && !fs::exists(record); ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return readStart(record) - startedAt;
}

struct LauncherRun {
    double toGame = 0;        // launcher start -> game start, seconds
    double afterGame = 0;     // game start -> launcher's end, seconds
    double peakMegabytes = 0; // the launcher's peak resident set
};

// Watches the launcher and the game's record side by side, so that the launcher's end is seen
// within a fraction of a millisecond whichever comes first.
LauncherRun watchLauncher(pid_t launcher, const std::string& gameExecutable, double startedAt) {
    const std::string record = gameExecutable + ".start";
    double endedAt = -1;
    rusage usage{};
    for (int i = 0; i < 100000 && (endedAt < 0 || !fs::exists(record)); ++i) {
        int status = 0;
        if (endedAt < 0 && wait4(launcher, &status, WNOHANG, &usage) == launcher) {
            endedAt = monotonicSeconds();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    const double gameAt = readStart(record);
    return LauncherRun{gameAt - startedAt, endedAt - gameAt,
                       static_cast<double>(usage.ru_maxrss) / 1024.0};
}

void endGames(const std::string& executable) {
    const std::string command = "pkill -KILL -f '^" + executable + "$' 2>/dev/null";
    std::system(command.c_str());
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void writePlist(const fs::path& path, const std::string& endpoint) {
    std::ofstream file(path);
    file << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
         << "<key>latestVersionEndpoint</key><string>" << endpoint << "</string>"
         << "<key>launcherVersion</key><string>1.0</string>"
         << "<key>companyFolderName</key><string>Bench</string>"
         << "<key>appFolderName</key><string>Game</string>"
         << "<key>appDisplayName</key><string>Game</string></dict></plist>\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <Launcher.app> <stamp_game> [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 31;
    char pattern[] = "/tmp/startup-bench-XXXXXX";
    const fs::path root = mkdtemp(pattern);
    const fs::path bundle = root / "Launcher.app";
    fs::copy(argv[1], bundle, fs::copy_options::recursive);

    httplib::Server server;
    server.Get("/LatestVersion.ini", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ApplicationVersion=1.0\nLauncherVersion=1.0\n", "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    writePlist(bundle / "Contents/Resources/config.plist",
               "http://127.0.0.1:" + std::to_string(port) + "/LatestVersion.ini");

    const fs::path data = root / "data";
    const fs::path gameFolder = data / "Bench/Game/Game.app/Contents/MacOS";
    fs::create_directories(gameFolder);
    const std::string game = (gameFolder / "Game").string();
    fs::copy_file(argv[2], game);
    std::ofstream(data / "Bench/Game/CurrentVersion.ini") << "ApplicationVersion=1.0\n";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("HOME", root.c_str(), 1);
    setenv("TMPDIR", (root / "tmp/").c_str(), 1);
    fs::create_directories(root / "tmp");

    const std::string launcher = (bundle / "Contents/MacOS/launcher").string();
    std::vector<double> throughLauncher;
    std::vector<double> direct;
    std::vector<double> livesOn;
    std::vector<double> peakMemory;
    for (int i = 0; i < runs; ++i) {
        double started = monotonicSeconds();
        pid_t child = spawn(launcher);
        const LauncherRun run = watchLauncher(child, game, started);
        throughLauncher.push_back(run.toGame);
        livesOn.push_back(run.afterGame);
        peakMemory.push_back(run.peakMegabytes);
        endGames(game);

        started = monotonicSeconds();
        child = spawn(game);
        direct.push_back(waitForStart(game, started));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    server.stop();
    serving.join();
    fs::remove_all(root);

    const double viaLauncher = median(throughLauncher) * 1000;
    const double alone = median(direct) * 1000;
    std::printf("runs: %d\n", runs);
    std::printf("launcher start -> game start (median): %.2f ms\n", viaLauncher);
    std::printf("direct start   -> game start (median): %.2f ms\n", alone);
    std::printf("launcher overhead (median): %.2f ms\n", viaLauncher - alone);
    std::printf("launcher lives on after the game's start (median): %.2f ms\n",
                median(livesOn) * 1000);
    std::printf("launcher peak resident memory (median): %.1f MB\n", median(peakMemory));
    return 0;
}
