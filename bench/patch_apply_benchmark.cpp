// Times applying a release's patch as an update does: the patch read from the archive entry,
// the installed file memory-mapped, the result written to a staging file and hashed. Prints the
// wall seconds, the result's size and SHA-256, and the peak anonymous memory (RssAnon: the
// process's own pages; the mapped files' pages are the page cache's) for bench/patch_benchmark.sh.
#include "update/patch/patch_names.h"
#include "update/patch/zstd_patch.h"
#include "update/unpack/zip_entries.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#include <zip.h>

namespace {

long rssAnonKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("RssAnon:", 0) == 0) {
            return std::stol(line.substr(8));
        }
    }
    return -1;
}

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <archive> <installed folder> <file below it> <output>\n",
                     argv[0]);
        return 2;
    }
    int code = 0;
    const ArchiveHandle archive(zip_open(argv[1], ZIP_RDONLY, &code));
    const PatchEntries patches = archive ? findPatchEntries(archive.get()) : PatchEntries{};
    if (patches.size() != 1) {
        std::fprintf(stderr, "%s: expected one patch, found %zu\n", argv[1], patches.size());
        return 1;
    }
    const Descriptor root(open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string failure;
    const Descriptor base = openPatchBase(root.fd, components(argv[3]), failure);
    const Descriptor output(open(argv[4], O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    const EntryHandle entry(zip_fopen_index(archive.get(), patches.begin()->second, 0));
    // The file below the installed folder is named as the archive names its new release.
    zip_stat_t result;
    if (zip_stat(archive.get(), argv[3], 0, &result) != 0 || (result.valid & ZIP_STAT_SIZE) == 0) {
        std::fprintf(stderr, "%s: no entry %s\n", argv[1], argv[3]);
        return 1;
    }
    if (!base.valid() || !output.valid() || !entry) {
        std::fprintf(stderr, "cannot open the base, the output or the patch: %s\n",
                     failure.c_str());
        return 1;
    }

    std::atomic<bool> done{false};
    std::atomic<long> peak{rssAnonKib()};
    std::thread sampler([&] {
        while (!done.load()) {
            peak.store(std::max(peak.load(), rssAnonKib()));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const PatchOutcome outcome = applyZstdPatch(base.fd, entry.get(), output.fd, result.size);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    done.store(true);
    sampler.join();
    peak.store(std::max(peak.load(), rssAnonKib()));

    if (!outcome.applied()) {
        std::fprintf(stderr, "not applied: %s\n", outcome.failure.c_str());
        return 1;
    }
    std::printf("seconds=%.2f bytes=%llu sha256=%s peak_rss_anon_kib=%ld\n", elapsed.count(),
                static_cast<unsigned long long>(outcome.bytes), outcome.sha256.c_str(),
                peak.load());
    return 0;
}
