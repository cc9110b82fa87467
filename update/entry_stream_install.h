#pragma once
#include "update/http/curl_session.h"

#include <optional>
#include <string>
#include <vector>

// What the entry-wise road came to. NotPossible: the server cannot serve ranges or the file is no
// ZIP archive (after one run-log line saying so); the caller takes the whole-archive road.
enum class EntryWiseInstall { Installed, Failed, NotPossible };

// Installs the release at url into folder entry by entry, through HTTP range requests: only the
// entries that neither the installed game nor the staging folder (an interrupted run for this
// release) holds are fetched, each unpacked into the staging folder while its bytes arrive and
// checked there; the installed game is touched only once every entry is staged, by a commit
// (see update/stage/staged_commit.h) that the caller finishes once the game is started
// (recordCommittedRelease, with versionText). Refused before anything is fetched when the data
// folder's file system lacks the room. Nothing is started: the caller starts
// executableName (which, like archiveName, must be a single name in folder) once Installed.
// Log lines as the whole-archive road's.
//
// With requiredIndexSha256 (a launcher that checks signatures), the archive must hold a
// ReleaseIndex.sha256 of that hash, and every file and link must be listed in it with the hash
// its bytes are checked against before they are put in place. The transfer settings shape every
// request, and say over how many connections at once the entries are fetched (see
// update/run_transfers.h). mirrors: further URLs of the same archive, byte for byte, which runs
// move on to when the one before has failed.
EntryWiseInstall installContentEntryWise(const std::string& url, const std::string& folder,
                                         const std::string& archiveName,
                                         const std::string& executableName,
                                         const std::optional<std::string>& requiredIndexSha256,
                                         const TransferSettings& transfer,
                                         const std::string& versionText = {},
                                         const std::vector<std::string>& mirrors = {});
