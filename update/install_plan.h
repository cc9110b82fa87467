#pragma once
#include "update/release/release_index.h"
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
    std::vector<bool> fetch; // per entry: whether it is fetched
    std::vector<PlannedRun> runs;
    std::size_t fetchedEntries = 0;
    std::uint64_t fetchedBytes = 0;
};

// Unchanged neighbours up to this size are fetched along with a run rather than splitting it:
// a second request costs more than the bytes.
constexpr std::uint64_t mergeGapBytes = 16 * 1024;

// Whether the installed copy of entry below root already matches it: with an index hash by
// SHA-256, otherwise by size and CRC-32 from the archive. Modes count too.
bool installedCopyMatches(zip_t* archive, const ZipEntry& entry, int root,
                          const std::string& indexSha256);

InstallPlan planInstall(zip_t* archive, const std::vector<ZipEntry>& entries, int root,
                        const IndexedHashes& hashes);
