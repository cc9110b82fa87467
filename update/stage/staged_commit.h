#pragma once
#include "update/stage/commit_journal.h"

#include <string>

// Puts a fully staged release in place. An update goes through its journal, made durable with
// the staged files before anything is renamed; the journal stays until the caller has recorded
// the new version, so that a run killed in between still ends with the version recorded at the
// next start. A first install (see first_install.h) is put in place without a sync or a
// journal, to be made durable by recordCommittedRelease. False after a run-log line when the
// release does not hold the application bundleName that is started afterwards (its staged files
// are discarded, nothing is touched), when the commit could not be made durable (nothing touched
// then) or not be finished.
bool commitStagedRelease(const std::string& dataFolder, const CommitJournal& journal,
                         const std::string& bundleName);

// Once the committed release's game was started, or failed to start: a first install's files
// made durable and recorded, then versionText recorded as CurrentVersion.ini when the game
// started, and the journal dropped. 0 when the version is recorded, 1 otherwise.
int recordCommittedRelease(const std::string& dataFolder, const std::string& versionText,
                           bool gameStarted);
void forgetCommit(const std::string& dataFolder);

// Finishes the commit that an earlier run left in dataFolder (killed or cut off during it) and
// records its version, before anything else looks at the installed game. One that cannot be
// finished is logged and dropped, with the installed version forgotten, so that the release is
// installed again.
void finishLeftCommit(const std::string& dataFolder);
