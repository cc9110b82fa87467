// Times one content install the way the installer's worker runs it: download into a folder,
// unpack, delete the archive, start the bundle. Prints wall seconds and the process's peak
// resident memory, for bench/install_benchmark.sh to set beside curl + unzip. With a fifth
// argument the archive is checked against that SHA-256, as a launcher with a signing key does.
#include "launcher/run_log.h"
#include "update/download_and_launch.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s <url> <folder> <archive name> <bundle name> [sha256]\n",
                     argv[0]);
        return 2;
    }
    std::string folder = argv[2];
    setupLogFile(folder); // the run log lands beside the content, as in the data folder

    const auto start = std::chrono::steady_clock::now();
    const auto required = argc == 6 ? std::optional<std::string>(argv[5]) : std::nullopt;
    const int result = performToFileCurlAndExecute(argv[1], folder, argv[3], argv[4], required);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "result=%d seconds=%.2f peak_kib=%ld\n", result, elapsed.count(),
                 usage.ru_maxrss);
    return result;
}
