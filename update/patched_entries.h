#pragma once
#include "update/install_plan.h"
#include "update/stage/installed_files.h"
#include "update/unpack/zip_entries.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include <zip.h>

// Which changed entries of an entry-wise update come as a patch of the release (see
// update/patch/) rather than whole: a file whose installed copy is the base of one of the
// release's patches to the file the index lists. Only releases with an index can tell, and only
// patches the index lists are used, each checked against it before it is applied.

struct PatchedEntry {
    std::size_t position = 0;    // in the entry list
    zip_uint64_t patchIndex = 0; // the patch's entry in the archive
    std::string patchSha256;     // the index's hash of the patch
    InstalledFile base;          // the installed file as planned, which the patch applies to
};

struct PatchRun {
    std::vector<PatchedEntry> entries; // in archive order of their patches
    std::uint64_t bytes = 0;           // about what the run's request fetches
};

struct PatchPlan {
    std::vector<PatchRun> runs;
    std::size_t entries = 0; // how many entries come as patches
    // The largest of the patches: each is kept in the staging folder while it applies, one at a
    // time, beside the entries' results.
    std::uint64_t largestPatchBytes = 0;
};

// What planning the patches looks at.
struct PatchPlanning {
    zip_t* archive = nullptr;
    const IndexedHashes& index;
    const InstalledFiles* recorded = nullptr; // none: an install made before the record
    int installedRoot = -1;
    const std::string& url; // for the run-log lines
};

// Chooses the patches (their entries' source becomes Patched) and takes their entries out of
// plan's runs; plan's bytes then count the patches' runs instead. An entry the release has patches
// for, but none from the installed copy, gets a run-log line saying that it is fetched whole.
PatchPlan planPatches(const PatchPlanning& planning, InstallPlan& plan);

// Once the patches are applied: the entries whose patch failed (not among staged) are fetched
// whole along with the rest.
void fetchWholeAfterPatches(const std::vector<std::size_t>& staged, InstallPlan& plan);

// The one run-log line that says why an entry comes whole after all.
void logFetchedWhole(const std::string& url, const std::string& name, const std::string& why);
