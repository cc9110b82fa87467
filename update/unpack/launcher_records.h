#pragma once
#include <string>

// Whether a top-level name in the data folder belongs to the launcher itself: its run log, its
// installed-version record (and that record's temporary file), the highest accepted serial (and
// its temporary file), its run lock and the unpacker's unfinished files. An archive never gets to
// write, replace or link these; the launcher would lock itself out with a record it cannot use.
bool isLauncherRecordName(const std::string& topLevelName);

// Whether name has the form the unpacker gives a file while it is being written,
// ".unzip-<pid>-<n>.partial". Leftovers of that form are removed at the next unpack, so an
// archive may not use it for a name of its own at any depth.
bool isUnpackPartialName(const std::string& name);
