// How long a failed install keeps the player waiting: the launcher's whole run when the content
// archive is missing, with the failure text (installFailedText-*) and without one, and the
// difference, which is the time the text stays on screen. Needs a display (Xvfb will do).
//
//   install_failure_text_time <Launcher.app> [runs]
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
extern char** environ;

namespace {

std::string readText(const fs::path& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// config.plist with one string setting changed (the key must be there).
std::string withString(const std::string& plist, const std::string& key, const std::string& value) {
    const std::regex entry("(<key>" + key + "</key>\\s*<string>)[^<]*(</string>)");
    return std::regex_replace(plist, entry, "$1" + value + "$2");
}

// The bundle's own settings pointed at endpoint and a data folder of the benchmark's own, with
// the failure texts kept or emptied.
void writeConfig(const fs::path& bundle, const std::string& original, const std::string& endpoint,
                 bool withText) {
    std::string plist = withString(original, "latestVersionEndpoint", endpoint);
    plist = withString(plist, "companyFolderName", "Bench");
    plist = withString(plist, "appFolderName", "FailureText");
    if (!withText) {
        for (const char* language : {"en", "de", "fr"}) {
            plist = withString(plist, std::string("installFailedText-") + language, "");
        }
    }
    std::ofstream(bundle / "Contents/Resources/config.plist") << plist;
}

// Seconds from the launcher's start to its end, its output silenced.
double timedRun(const std::string& launcher) {
    std::vector<char*> argv{const_cast<char*>(launcher.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto started = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int failed =
        posix_spawn(&child, launcher.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        std::perror("posix_spawn");
        std::exit(2);
    }
    waitpid(child, nullptr, 0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

struct Figures {
    double median = 0;
    double low = 0;
    double high = 0;
};

Figures figuresOf(std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    return {seconds[seconds.size() / 2], seconds.front(), seconds.back()};
}

void print(const char* what, const Figures& f) {
    std::printf("%s: median %.0f ms (from %.0f to %.0f ms)\n", what, f.median * 1000, f.low * 1000,
                f.high * 1000);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <Launcher.app> [runs]\n", argv[0]);
        return 2;
    }
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "needs an X display\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    char pattern[] = "/tmp/failure-text-bench-XXXXXX";
    const fs::path root = mkdtemp(pattern);
    const fs::path bundle = root / "Launcher.app";
    fs::copy(argv[1], bundle, fs::copy_options::recursive);
    const std::string original = readText(bundle / "Contents/Resources/config.plist");

    // A manifest whose archive is not there: the install fails at once.
    httplib::Server server;
    const int port = server.bind_to_any_port("127.0.0.1");
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    server.Get("/LatestVersion.ini", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content("ApplicationVersion=1.0\nLauncherVersion=1.0\nApplicationDownloadUrl=" +
                            base + "/missing.zip\n",
                        "text/plain");
    });
    std::thread serving([&] { server.listen_after_bind(); });
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("HOME", root.c_str(), 1);
    setenv("TMPDIR", (root / "tmp/").c_str(), 1);
    fs::create_directories(root / "tmp");

    const std::string launcher = (bundle / "Contents/MacOS/launcher").string();
    std::vector<double> withText;
    std::vector<double> withoutText;
    for (int i = 0; i < runs; ++i) {
        writeConfig(bundle, original, base + "/LatestVersion.ini", true);
        withText.push_back(timedRun(launcher));
        writeConfig(bundle, original, base + "/LatestVersion.ini", false);
        withoutText.push_back(timedRun(launcher));
    }
    server.stop();
    serving.join();
    fs::remove_all(root);

    const Figures shown = figuresOf(withText);
    const Figures plain = figuresOf(withoutText);
    std::printf("runs: %d each\n", runs);
    print("failed install with the text, start -> end", shown);
    print("failed install without a text, start -> end", plain);
    std::printf("time the text adds (median difference): %.0f ms\n",
                (shown.median - plain.median) * 1000);
    return 0;
}
