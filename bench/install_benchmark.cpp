// Times one content install the way the installer's worker runs it: download into a folder,
// unpack, delete the archive, start the bundle. Prints wall seconds and the process's peak
// resident memory, for bench/install_benchmark.sh to set beside curl + unzip.
#include "launcher/run_log.h"
#include "update/download_and_launch.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <url> <folder> <archive name> <bundle name>\n", argv[0]);
        return 2;
    }
    std::string folder = argv[2];
    setupLogFile(folder); // the run log lands beside the content, as in the data folder

    const auto start = std::chrono::steady_clock::now();
    const int result = performToFileCurlAndExecute(argv[1], folder, argv[3], argv[4]);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "result=%d seconds=%.2f peak_kib=%ld\n", result, elapsed.count(),
                 usage.ru_maxrss);
    return result;
}
