#pragma once
#include "update/http/curl_session.h"
#include "update/http/file_download.h"

#include <optional>
#include <string>

// The whole-archive road: downloads url into folder + "/" + archiveName (hashed while it arrives
// when requiredSha256 is given: a download that differs is deleted unopened), unpacks it into
// folder and deletes it. executableName is the bundle that is started afterwards: it and
// archiveName must each be a single name in folder, checked before anything is downloaded. True
// once the release is in place (nothing is started); false after a run-log line. The transfer
// settings shape the download.
bool installWholeArchive(const std::string& url, const std::string& folder,
                         const std::string& archiveName, const std::string& executableName,
                         const std::optional<std::string>& requiredSha256,
                         const TransferSettings& transfer);

// Downloads url into downloadToFilePath + "/" + downloadToFileName, unpacks it into the same
// folder, deletes it and starts the application downloadedExecutableToRun found there:
// installWholeArchive, then launchUnpackedApplication. 0 when it is running, 1 on any failure
// (after a run-log line).
int performToFileCurlAndExecute(const std::string& url, const std::string& downloadToFilePath,
                                const std::string& downloadToFileName,
                                const std::string& downloadedExecutableToRun,
                                const std::optional<std::string>& requiredSha256 = std::nullopt,
                                const TransferSettings& transfer = {});

// The last step of an install: the application executableName must be in folder, and is
// started. 0 when it runs, 1 after a run-log line.
int launchUnpackedApplication(const std::string& folder, const std::string& executableName);

// The line both install roads start with, named after the whole job.
void logInstallStart(const std::string& url, const std::string& folder,
                     const std::string& archiveName, const std::string& executableName);

// Both names are joined to folder (ending in "/"): one that leads elsewhere would overwrite a
// file outside, or start whatever happens to lie there. False after a run-log line.
bool namesStayIn(const std::string& folder, const std::string& archiveName,
                 const std::string& executableName);

// Downloads url to archivePath, hashed while it arrives when requiredSha256 is given (a download
// that differs is deleted unopened). False after a run-log line; answer (when given) gets the
// server's status and why the download failed.
bool downloadChecked(const std::string& url, const std::string& archivePath,
                     const std::optional<std::string>& requiredSha256,
                     const TransferSettings& transfer, DownloadAnswer* answer = nullptr);
