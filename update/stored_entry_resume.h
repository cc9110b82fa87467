#pragma once
#include "update/http/range_reader.h"
#include "update/install_plan.h"
#include "update/unpack/zip_entries.h"

#include <cstdint>
#include <string>
#include <vector>
#include <zip.h>

// Stored entries (not deflated) are staged under a name that outlives a cut-off run, so that
// the next run for the same release fetches only the bytes after those already staged instead
// of the whole entry again. The staged bytes are never taken on trust: the entry's CRC-32 and
// SHA-256 are computed over all of its bytes, the staged ones read back from the disk, before it
// counts as staged.

// Whether entry is a file whose archive bytes are its own, so that its data can be fetched from
// any offset on.
bool isStoredEntry(zip_t* archive, const ZipEntry& entry);

// What the unfinished file of a stored entry below stagingRoot holds (0: none, or more than the
// entry can have).
std::uint64_t stagedPrefixOf(const ZipEntry& entry, int stagingRoot);

// The staged beginnings of the stored entries the plan fetches, found below stagingRoot, into
// their stagedBytes; the unfinished files of every other entry are removed. What they hold is
// neither fetched nor needs room again: the plan's fetched bytes go down by it.
void findStagedPrefixes(zip_t* archive, InstallPlan& plan, int stagingRoot);
std::uint64_t stagedPrefixBytes(const InstallPlan& plan);

// Once the plan's runs are final: prefixes of entries that are no longer fetched (patched
// instead) are removed, and the runs that resume one fetch its staged bytes less.
void settleStagedPrefixes(InstallPlan& plan, int stagingRoot);

struct StoredEntryFetch {
    zip_t* archive;
    const ZipEntry& entry;
    int root; // the staging tree
    const MadeLinks& madeLinks;
    RangeReader& remote;
    std::vector<char>& buffer;
    const std::string& requiredSha256; // empty: the CRC-32 alone is checked
    std::uint64_t staged;              // bytes already in its unfinished file
    std::uint64_t runBytes;            // when the entry starts a run: the run's bytes, else 0
};

// Stages a stored entry, carrying on after its staged bytes when there are any. The unfinished
// file is kept when the transfer breaks off; staged bytes that turn out wrong are dropped and the
// entry fetched whole again.
Problem stageStoredEntry(const StoredEntryFetch& fetch);
