#pragma once
#include <string>

// What an update keeps at the top of the data folder until it is complete: the entries it has
// fetched and verified, the commit that puts them in place, and the files it installed.
constexpr char stagingFolderName[] = ".launcher-staging";
constexpr char commitJournalName[] = ".launcher-commit";
constexpr char commitJournalPartialName[] = ".launcher-commit.partial";
constexpr char installedFilesName[] = ".launcher-installed-files";
constexpr char installedFilesPartialName[] = ".launcher-installed-files.partial";

// Whether a top-level name in the data folder belongs to the launcher itself: its run log, its
// installed-version record (and that record's temporary file), the highest accepted serial (and
// its temporary file), its run lock, the update's staging folder, commit journal and record of
// installed files (each with its temporary file) and the unpacker's unfinished files. An archive
// never gets to write, replace or link these; the launcher would lock itself out with a record it
// cannot use.
bool isLauncherRecordName(const std::string& topLevelName);

// Whether name has the form the unpacker gives a file while it is being written,
// ".unzip-<pid>-<n>.partial". Leftovers of that form are removed at the next unpack, so an
// archive may not use it for a name of its own at any depth.
bool isUnpackPartialName(const std::string& name);
