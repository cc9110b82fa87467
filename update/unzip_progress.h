#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// Percentage of the current unpack: 0..99 while entries are written, 100 once it succeeded.
extern std::atomic<std::int32_t> unzipProgressPercent;

// The unpack progress handler: entryNumber / total scaled to 0..99; left alone when total is 0.
void unzipProgressHandler(const std::string& entryPath, long long entryNumber, long long total);

// An unpack has ended: 100 when it succeeded; a failed one leaves the value where the progress
// stopped.
void finishUnzipProgress(bool succeeded);
