#pragma once
#include "update/release/release_index.h"
#include "update/stage/installed_files.h"
#include "update/unpack/zip_entries.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>
#include <zip.h>

// Which entries of a release the data folder lacks or holds in another form, and how their
// bytes are fetched: in archive order, neighbours merged into runs of one request each.

// The index's values by entry name.
using IndexedHashes = std::map<std::string, ReleaseIndexEntry>;

struct PlannedRun {
    std::vector<std::size_t> entries; // positions in the entry list, to be fetched and unpacked
    std::uint64_t bytes = 0;          // about what the run's request fetches
};

struct InstallPlan {
    std::vector<bool> fetch;     // per entry: whether it is fetched (into the staging folder)
    std::vector<bool> installed; // per entry: whether the installed copy is the release's already
    // Per entry: the installed file's SHA-256 when planning read it whole (its size was the
    // entry's), else empty.
    std::vector<std::string> installedSha256;
    std::vector<PlannedRun> runs;
    std::size_t fetchedEntries = 0;
    std::uint64_t fetchedBytes = 0;
};

// Unchanged neighbours up to this size are fetched along with a run rather than splitting it:
// a second request costs more than the bytes.
constexpr std::uint64_t mergeGapBytes = 16 * 1024;

// Whether the installed copy of entry below root already matches it: with an index hash by
// SHA-256, otherwise by size and CRC-32 from the archive. Modes count too.
// The installed file's SHA-256 goes to installedSha256 (when given) if it was read whole.
bool installedCopyMatches(zip_t* archive, const ZipEntry& entry, int root,
                          const std::string& indexSha256, std::string* installedSha256 = nullptr);

// About what a range request for the archive's entry at index fetches: its local header, data
// and descriptor.
std::uint64_t entrySpan(zip_t* archive, zip_uint64_t index);

// The fetched entries (by position) in runs: in archive order, neighbours up to mergeGapBytes
// apart in one run.
std::vector<PlannedRun> plannedRuns(zip_t* archive, const std::vector<ZipEntry>& entries,
                                    const std::vector<bool>& fetched);
std::uint64_t runBytes(const std::vector<PlannedRun>& runs);

// The hash an entry is recorded with once installed: the index's SHA-256, else the archive's
// CRC-32.
std::string entryHashLabel(zip_t* archive, const ZipEntry& entry, const std::string& indexSha256);

// Where a release's entries already are. An entry whose installed copy is still the very file
// recorded with the same hash is not read again; other installed copies, and copies staged by an
// earlier run for this release, are hashed. Only what is in neither place is fetched.
struct PlanSources {
    int installedRoot = -1;
    int stagingRoot = -1;
    const InstalledFiles* recorded = nullptr; // none: an install made before the record
};

InstallPlan planInstall(zip_t* archive, const std::vector<ZipEntry>& entries,
                        const PlanSources& sources, const IndexedHashes& hashes);
