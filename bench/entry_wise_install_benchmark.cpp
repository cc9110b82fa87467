// Times one entry-wise content install (range requests, unpacked while the bytes arrive, only
// what the folder lacks), as the installer's worker runs it, and records a version as the worker
// does, so that a second run into the same folder is an update. Prints, for
// bench/entry_wise_benchmark.sh, the wall seconds until the game was started (files in place),
// the wall seconds until the install was durable and recorded (a first install syncs after the
// start), and the process's peak resident memory. Exit 3 when the server could not serve ranges
// (the worker would then take the whole-archive road).
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
    // The road, the start of the game and the record, as the worker takes them.
    const EntryWiseInstall road =
        installContentEntryWise(argv[1], folder, argv[3], argv[4], std::nullopt, transfer);
    int result = road == EntryWiseInstall::NotPossible ? 3 : 1;
    auto gameStarted = std::chrono::steady_clock::now();
    if (road == EntryWiseInstall::Installed) {
        const bool started = launchUnpackedApplication(folder, argv[4]) == 0;
        gameStarted = std::chrono::steady_clock::now();
        result = recordCommittedRelease(folder, "ApplicationVersion=benchmark\n", started);
    }
    const auto end = std::chrono::steady_clock::now();
    const std::chrono::duration<double> toGame = gameStarted - start;
    const std::chrono::duration<double> elapsed = end - start;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "result=%d seconds_to_game=%.2f seconds=%.2f peak_kib=%ld\n", result,
                 toGame.count(), elapsed.count(), usage.ru_maxrss);
    return result;
}
