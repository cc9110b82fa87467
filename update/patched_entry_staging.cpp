#include "update/patched_entry_staging.h"

#include "launcher/run_log.h"
#include "platform/write_all.h"
#include "update/patch/zstd_patch.h"
#include "update/release/sha256_stream.h"
#include "update/unzip_progress.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

enum class PatchResult { Staged, Whole, TransferFailed };

// The patch entry copied into an unnamed file of the staging folder (gone with its descriptor,
// whatever happens to the run) and checked against the index before anything reads it. A
// patch larger than the file it makes is refused: it would gain nothing, and a forged size
// would fill the disk.
Descriptor keepPatch(const PatchStaging& staging, const PatchedEntry& patched, std::string& why) {
    const ZipEntry& entry = *staging.entries[patched.position].entry;
    zip_stat_t status;
    if (zip_stat_index(staging.archive, patched.patchIndex, 0, &status) != 0 ||
        (status.valid & ZIP_STAT_SIZE) == 0 || status.size > entry.size) {
        why = "its patch is larger than the file it makes";
        return {};
    }
    Descriptor kept(openat(staging.stagingRoot, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    EntryHandle data(zip_fopen_index(staging.archive, patched.patchIndex, 0));
    if (!kept.valid() || !data) {
        why = kept.valid() ? std::string("cannot open its patch: ") + zip_strerror(staging.archive)
                           : errorText("cannot keep its patch");
        return {};
    }
    Sha256Stream hash;
    std::vector<char> buffer(entryCopyBufferBytes);
    zip_uint64_t copied = 0;
    while (true) {
        const zip_int64_t got = zip_fread(data.get(), buffer.data(), buffer.size());
        if (got < 0) {
            why = std::string("cannot read its patch: ") + zip_file_strerror(data.get());
            return {};
        }
        copied += static_cast<zip_uint64_t>(got);
        if (got == 0 || copied > status.size) {
            break;
        }
        hash.update(buffer.data(), static_cast<std::size_t>(got));
        if (!writeAll(kept.fd, buffer.data(), static_cast<std::size_t>(got))) {
            why = errorText("cannot keep its patch");
            return {};
        }
    }
    if (copied != status.size || hash.finishHex() != patched.patchSha256) {
        why = std::string("its patch's SHA-256 differs from the ") + releaseIndexName + "'s";
        return {};
    }
    if (lseek(kept.fd, 0, SEEK_SET) != 0) {
        why = errorText("cannot read its kept patch");
        return {};
    }
    return kept;
}

// Fills output with the patch in kept applied to base; the result must be the entry's file.
Problem applyKept(int kept, int base, int output, const std::string& requiredSha256,
                  std::uint64_t size, PatchOutcome& outcome) {
    const PatchReader read = [kept](void* buffer, std::size_t length, std::string& failure) {
        const ssize_t got = ::read(kept, buffer, length);
        if (got < 0) {
            failure = errorText("cannot read its kept patch");
        }
        return static_cast<std::int64_t>(got);
    };
    outcome = applyZstdPatch(base, read, output, size);
    if (!outcome.applied()) {
        return "its patch failed: " + outcome.failure;
    }
    if (outcome.sha256 != requiredSha256) {
        return std::string("the patched file's SHA-256 differs from the ") + releaseIndexName +
               "'s";
    }
    return {};
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Where a patched entry's time went, for a support person asking why an update took long.
void logPatched(const PatchStaging& staging, const ZipEntry& entry, double fetching, double all,
                const PatchOutcome& outcome) {
    writeToLog("entry-wise install of " + staging.url + ": " + entry.name + " patched in " +
               seconds(all) + " s (patch fetched in " + seconds(fetching) +
               " s, result reserved in " + seconds(outcome.preparingSeconds) + " s, made in " +
               seconds(outcome.decodingSeconds) + " s, hashed " + seconds(outcome.hashTailSeconds) +
               " s after)");
}

PatchResult stageOne(const PatchStaging& staging, const PatchedEntry& patched,
                     const MadeLinks& noLinks) {
    const ZipEntry& entry = *staging.entries[patched.position].entry;
    std::string why;
    const auto start = std::chrono::steady_clock::now();
    const Descriptor kept = keepPatch(staging, patched, why);
    const double fetching = secondsSince(start);
    if (!kept.valid() && staging.remote.state() != RangeReader::State::Ready) {
        return PatchResult::TransferFailed;
    }
    Descriptor base;
    if (kept.valid() && !stillAsInstalled(staging.installedRoot, patched.base)) {
        why = "the installed file changed since the update was planned";
    } else if (kept.valid()) {
        base = openPatchBase(staging.installedRoot, entry.components, why);
    }
    if (base.valid()) {
        PatchOutcome outcome;
        why = writeFileEntryWith(entry, staging.stagingRoot, noLinks, [&](int output) {
            return applyKept(kept.fd, base.fd, output,
                             staging.entries[patched.position].requiredSha256, entry.size, outcome);
        });
        if (why.empty()) {
            logPatched(staging, entry, fetching, secondsSince(start), outcome);
            return PatchResult::Staged;
        }
    }
    logFetchedWhole(staging.url, entry.name, why);
    return PatchResult::Whole;
}

} // namespace

PatchPass stagePatchedEntries(const PatchStaging& staging, const PatchPlan& plan, long long total) {
    PatchPass pass;
    // Planning left out every entry below a link of the release.
    const MadeLinks noLinks;
    for (const PatchRun& run : plan.runs) {
        staging.remote.beginRun(run.bytes);
        for (const PatchedEntry& patched : run.entries) {
            const PatchResult result = stageOne(staging, patched, noLinks);
            if (result == PatchResult::TransferFailed) {
                staging.remote.endRun();
                pass.transferFailed = true;
                return pass;
            }
            if (result == PatchResult::Staged) {
                pass.staged.push_back(patched.position);
                unzipProgressHandler(staging.entries[patched.position].entry->name,
                                     static_cast<long long>(pass.staged.size()), total);
            }
        }
        staging.remote.endRun();
    }
    return pass;
}
