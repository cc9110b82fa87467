#pragma once
#include "update/stage/commit_journal.h"

#include <string>

// A first install has no game of the player's to protect, so its files go in place at once and
// the game starts before the disk has caught up; the one sync comes after the start. An update
// keeps the journal's order: staged files and journal durable before anything is renamed.
//
// Until that sync nothing claims the files: no CurrentVersion.ini, no journal (finishLeftCommit
// would record the version from it, and after a power cut no later sync brings back bytes that
// never reached the disk), and no record of installed files, only its unsynced copy, which
// planning never reads. So the run after a power cut plans again, hashes every installed copy
// against the release and fetches what the disk lost; the run after a kill finds them whole.

// Whether a commit into dataFolder is a first install: no CurrentVersion.ini that the launcher
// reads there.
bool isFirstInstall(const std::string& dataFolder);

// The release put in place by applyCommit, with nothing synced and its record of installed
// files written only as the unsynced copy. An earlier record goes first: its claims would
// outlive a power cut that the new files did not.
Problem putFirstInstallInPlace(int dataFolder, const CommitJournal& journal);

// Whether a first install's files still wait for their sync.
bool awaitsSync(int dataFolder);

// The sync, then the unsynced record renamed into the record of installed files. False (errno
// set) when either failed: the files stay unclaimed, as before.
bool makeFirstInstallDurable(int dataFolder);

// An unsynced record that a cut-off first install left; gone before any other commit, which
// must not have it taken for its own.
void dropUnsyncedRecord(int dataFolder);
