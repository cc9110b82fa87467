#pragma once
#include <cstdint>
#include <string>

// What an update keeps at the top of the data folder until it is complete: the entries it has
// fetched and verified, the commit that puts them in place, and the files it installed.
constexpr char stagingFolderName[] = ".launcher-staging";
constexpr char commitJournalName[] = ".launcher-commit";
constexpr char commitJournalPartialName[] = ".launcher-commit.partial";
constexpr char installedFilesName[] = ".launcher-installed-files";
constexpr char installedFilesPartialName[] = ".launcher-installed-files.partial";
// A first install's record of installed files until the sync after the game's start.
constexpr char unsyncedInstalledFilesName[] = ".launcher-installed-files.unsynced";

// Whether a top-level name in the data folder belongs to the launcher itself: its run log, its
// installed-version record (and that record's temporary file), the highest accepted serial (and
// its temporary file), its run lock, the update's staging folder, commit journal and record of
// installed files (each with its temporary file, the record with its unsynced copy too), the
// install number (and its temporary file) and the unpacker's unfinished files. An archive
// never gets to write, replace or link these; the launcher would lock itself out with a record it
// cannot use.
bool isLauncherRecordName(const std::string& topLevelName);

// Whether name has the form the unpacker gives a file while it is being written,
// ".unzip-<pid>-<n>.partial". Leftovers of that form are removed at the next unpack, so an
// archive may not use it for a name of its own at any depth.
bool isUnpackPartialName(const std::string& name);

// The name a stored entry is staged under while its bytes arrive, ".unzip-resume-<index>.partial":
// kept when a run is cut off, so that the next run for the same release carries on from it. The
// archive may not use that form either.
std::string resumablePartialName(std::uint64_t index);
bool isResumablePartialName(const std::string& name);

// The folder at an archive's top level where a release carries its patches: zstd deltas that
// turn a file of an earlier release into this release's (see update/patch/). The launcher reads
// them from the archive and never unpacks them.
inline constexpr char patchFolderName[] = ".launcher-patches";

// Whether a top-level name is the patch folder, in any letter case: on a Mac's disk another case
// would land in the same folder.
bool isPatchFolderName(const std::string& topLevelName);
