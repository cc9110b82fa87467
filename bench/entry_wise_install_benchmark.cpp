// Times one entry-wise content install (range requests, unpacked while the bytes arrive, only
// what the folder lacks), as the installer's worker runs it. Prints wall seconds and the
// process's peak resident memory for bench/entry_wise_benchmark.sh. Exit 3 when the server
// could not serve ranges (the worker would then take the whole-archive road).
#include "launcher/run_log.h"
#include "update/download_and_launch.h"
#include "update/entry_stream_install.h"
#include "update/stage/staged_commit.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr,
                     "usage: %s <url> <folder> <archive name> <bundle name> [connections]\n",
                     argv[0]);
        return 2;
    }
    TransferSettings transfer;
    transfer.contentConnections = argc == 6 ? std::atoi(argv[5]) : 1;
    const std::string folder = argv[2];
    setupLogFile(folder);

    const auto start = std::chrono::steady_clock::now();
    // The road, then the start of the game, as the worker takes them.
    const EntryWiseInstall road =
        installContentEntryWise(argv[1], folder, argv[3], argv[4], std::nullopt, transfer);
    int result = road == EntryWiseInstall::NotPossible ? 3 : 1;
    if (road == EntryWiseInstall::Installed) {
        result = launchUnpackedApplication(folder, argv[4]);
        forgetCommit(folder); // no version to record here
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "result=%d seconds=%.2f peak_kib=%ld\n", result, elapsed.count(),
                 usage.ru_maxrss);
    return result;
}
