#pragma once
#include "update/stage/installed_files.h"
#include "update/unpack/unpack_paths.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The commit of a staged release: written and made durable before the installed game is
// touched, so that a run killed half way through the commit (or a power cut) finishes it at the
// next start instead of leaving a mixture of two releases. Every step of it can be done again.

struct JournalFolder {
    std::string path;
    mode_t permissions = 0755;
    std::optional<std::int64_t> modified; // seconds
};

struct JournalFile {
    std::string path;
    std::string hash;    // as recorded in the installed files
    bool staged = false; // moved in from the staging folder; otherwise installed already
};

struct CommitJournal {
    std::vector<JournalFolder> folders;  // every folder of the release
    std::vector<JournalFile> files;      // every file and link of the release
    std::vector<InstalledFile> removals; // recorded files the release no longer ships
    std::string versionText;             // the manifest, for CurrentVersion.ini
};

// Makes every staged file durable with one sync of the data folder's file system, then writes
// the journal durably. False when either failed (nothing has been touched then).
bool writeCommitJournal(int dataFolder, const CommitJournal& journal);

enum class JournalPresence { Absent, Readable, Unreadable };
// The journal a run left in the data folder; why (and on which line) it cannot be read goes to
// problem.
JournalPresence readCommitJournal(int dataFolder, CommitJournal& journal, Problem& problem);

// How the installed files are recorded: durably, or as a first install's unsynced copy.
using InstalledFilesWriter = bool (*)(int dataFolder, const InstalledFiles& installed);

// Carries out the journal: CurrentVersion.ini removed (it names the release being replaced),
// staged files moved into place, dropped files removed with the folders that this empties, the
// folders' attributes applied, the installed files recorded by writeRecord and the staging
// folder removed. Steps already done are passed over. The journal itself stays.
Problem applyCommit(int dataFolder, const CommitJournal& journal,
                    InstalledFilesWriter writeRecord = writeInstalledFiles);

// Removes the journal once the commit is finished and recorded.
bool removeCommitJournal(int dataFolder);
