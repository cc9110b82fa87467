#pragma once
#include "update/http/range_reader.h"
#include "update/patched_entries.h"

#include <cstddef>
#include <string>
#include <vector>
#include <zip.h>

// The patch pass of an entry-wise update: each planned patch fetched (its runs as planned),
// checked against the index, applied against the installed file and the result written into the
// staging folder, where it counts as staged only with the hash the index lists for the entry.
// Whatever goes wrong with a patch leaves its entry to be fetched whole, after one run-log line.

struct PatchStaging {
    zip_t* archive = nullptr;
    const std::vector<PlannedEntry>& entries;
    int installedRoot = -1;
    int stagingRoot = -1;
    RangeReader& remote;
    const std::string& url; // for the run-log lines
};

struct PatchPass {
    std::vector<std::size_t> staged; // the positions staged from their patches
    bool transferFailed = false;     // the transfer broke off (remote says why); nothing is staged
                                     // after it
};

// Applies the plan's patches; each staged entry is reported to the unpack progress as one of
// total.
PatchPass stagePatchedEntries(const PatchStaging& staging, const PatchPlan& plan, long long total);
