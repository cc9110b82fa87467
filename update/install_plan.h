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

// Where an entry's bytes come from in this update.
enum class EntrySource {
    Installed, // the installed copy is the release's already
    Staged,    // an earlier run for this release staged it
    Fetched,   // fetched whole into the staging folder
    Patched,   // made from the installed copy by one of the release's patches
};

// One entry of the release: what it is, what its bytes must hash to, where they come from. It
// goes to its components below the staging folder, then below the data folder.
struct PlannedEntry {
    const ZipEntry* entry = nullptr;
    // The index's SHA-256 of its bytes (the index itself: the hash it was read with); empty when
    // only its CRC-32 is checked.
    std::string requiredSha256;
    EntrySource source = EntrySource::Fetched;
    // The installed file's SHA-256 when planning read it whole (its size was the entry's).
    std::string installedSha256;
    std::uint64_t span = 0;        // about what a range request for it fetches
    std::uint64_t stagedBytes = 0; // of a stored entry: what an earlier run staged already
};

// Fetched entries (positions in the plan's entries, archive order) fetched with one request.
struct PlannedRun {
    std::vector<std::size_t> entries;
    std::uint64_t bytes = 0; // about what the run's request fetches
};

struct InstallPlan {
    std::vector<PlannedEntry> entries; // one per entry of the archive, in its order
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

// The plan's fetched entries in runs: in archive order, neighbours up to mergeGapBytes apart
// in one run.
std::vector<PlannedRun> plannedRuns(const std::vector<PlannedEntry>& entries);
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

// The paths of the release's links. Entries are staged by several connections at once, in no
// set order, so nothing may be written below any of them, whichever is staged first.
MadeLinks releaseLinks(const std::vector<PlannedEntry>& entries);
// The release's link that entry would be written through; empty when none.
std::string linkAbove(const ZipEntry& entry, const MadeLinks& links);

// The plan's entries before planning: each fetched, with the hash it is checked against.
std::vector<PlannedEntry> entriesToPlan(zip_t* archive, const std::vector<ZipEntry>& entries,
                                        const std::vector<std::string>& requiredSha256);

// Decides each entry's source; entries is what entriesToPlan gave.
InstallPlan planInstall(zip_t* archive, std::vector<PlannedEntry> entries,
                        const PlanSources& sources);
