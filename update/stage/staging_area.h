#pragma once
#include "platform/file_descriptor.h"

#include <string>

// The staging folder at the top of the data folder: the entries of the release being installed,
// each written and verified there before the installed game is touched. It names that release in
// a small file beside a tree that mirrors the entries' paths:
//   .launcher-staging/release   the release's identity
//   .launcher-staging/tree/...  the staged entries

// The staged tree for the release named by identity, created when missing. Staged entries of
// any other release are discarded first, and unfinished files of a killed run removed. Invalid
// (after a run-log line) when it cannot be made.
Descriptor openStagingTree(int dataFolder, const std::string& identity);

// The staged tree as it is, whatever release it holds; invalid when there is none.
Descriptor openExistingStagingTree(int dataFolder);

// Removes the staging folder with all it holds. False when it is still there.
bool discardStaging(int dataFolder);
