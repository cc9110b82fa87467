#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Percentage of the current unpack: 0..99 while entries are written, 100 once it succeeded.
extern std::atomic<std::int32_t> unzipProgressPercent;

// Downloads url into downloadToFilePath + downloadToFileName, unpacks it into the same folder,
// deletes it and starts the application downloadedExecutableToRun found there: 0 when it is
// running, 1 on any failure (after a run-log line). downloadToFilePath gets a trailing "/".
// With requiredSha256 the archive is hashed while it arrives and, when it differs, deleted
// unopened.
int performToFileCurlAndExecute(const std::string& url, std::string& downloadToFilePath,
                                const std::string& downloadToFileName,
                                const std::string& downloadedExecutableToRun,
                                const std::optional<std::string>& requiredSha256 = std::nullopt);

// The last steps of an install: the application executableName must be in folder (which ends
// with "/"), and is started. 0 when it runs, 1 after a run-log line.
int launchUnpackedApplication(const std::string& folder, const std::string& executableName);

// The unpack handlers: progress scales entryNumber / total to 0..99, completion sets 100 on
// success and leaves the value alone otherwise.
void unzipProgressHandler(const std::string& entryPath, long long entryNumber, long long total);
void unzipCompletionHandler(const std::string& path, bool succeeded);
