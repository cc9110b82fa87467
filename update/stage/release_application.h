#pragma once
#include "update/stage/commit_journal.h"
#include "update/unpack/unpack_paths.h"

#include <string>

// Whether the release a journal puts in place can be started: it must hold the application
// bundleName (a single name at the top of the data folder) with the executable that starting
// it runs, Contents/MacOS/<CFBundleExecutable> (else the bundle's own name), an executable
// regular file; or bundleName must itself be an executable file. Each file is looked at where
// the journal says it is: in the staging tree when staged, else in the data folder. Empty when
// it can be started, else what is missing. A release without its game is never put in place:
// the installed one, however old, is the player's only game.
Problem missingApplication(const std::string& dataFolder, const CommitJournal& journal,
                           const std::string& bundleName);
