#pragma once
#include <optional>
#include <string>

// Installs the release at url into folder entry by entry, through HTTP range requests: only the
// entries that the folder lacks or holds in another form are fetched, each unpacked while its
// bytes arrive and put in place once checked, and the application executableName is started.
// Arguments and log lines as performToFileCurlAndExecute, whose road the caller takes instead
// when this returns none: the server cannot serve ranges or the file is no ZIP archive (after
// one run-log line saying so). Otherwise 0 when the application runs, 1 on failure.
//
// With requiredIndexSha256 (a launcher that checks signatures), the archive must hold a
// ReleaseIndex.sha256 of that hash, and every file and link must be listed in it with the hash
// its bytes are checked against before they are put in place.
std::optional<int> installContentEntryWise(const std::string& url, std::string& folder,
                                           const std::string& archiveName,
                                           const std::string& executableName,
                                           const std::optional<std::string>& requiredIndexSha256);
