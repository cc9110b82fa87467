#pragma once
#include "update/install_plan.h"
#include "update/stage/commit_journal.h"
#include "update/unpack/zip_entries.h"

#include <cstdint>
#include <string>
#include <vector>
#include <zip.h>

// What both install roads do once a release's entries are all installed or staged: the commit
// that puts the staged ones in place and drops what the release no longer ships.

// The journal of a release planned entry by entry: each entry recorded with the hash it was
// checked against (its CRC-32 when it had none), staged unless its installed copy is the
// release's already. recorded: the installed files as recorded, none for an install made before
// the record.
CommitJournal releaseJournal(zip_t* archive, const std::vector<PlannedEntry>& entries,
                             const InstalledFiles* recorded, const std::string& versionText);

// What the entries to be staged (fetched or patched) take on disk.
std::uint64_t stagedBytes(const std::vector<PlannedEntry>& entries);
