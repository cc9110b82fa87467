#pragma once
#include "update/stage/commit_journal.h"
#include "update/unpack/zip_entries.h"

#include <cstdint>
#include <string>
#include <vector>
#include <zip.h>

// What both install roads do once a release's entries are all installed or staged: the commit
// that puts the staged ones in place and drops what the release no longer ships.

// The journal of a release: hashes[i] is the SHA-256 entry i was checked against (empty: only
// its CRC-32), installed[i] whether the installed copy is the release's already (otherwise it is
// staged). recorded: the installed files as recorded, none for an install made before the record.
CommitJournal releaseJournal(zip_t* archive, const std::vector<ZipEntry>& entries,
                             const std::vector<std::string>& hashes,
                             const std::vector<bool>& installed, const InstalledFiles* recorded,
                             const std::string& versionText);

// What the entries to be staged take on disk.
std::uint64_t stagedBytes(const std::vector<ZipEntry>& entries, const std::vector<bool>& staged);
