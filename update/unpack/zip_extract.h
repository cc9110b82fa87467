#pragma once
#include <functional>
#include <string>

// Called after each entry has been unpacked: its name in the archive, how many entries are done
// (1 .. total) and the archive's entry count.
using UnzipProgressHandler =
    std::function<void(const std::string& entryPath, long long entryNumber, long long total)>;

// Unpacks every entry of the ZIP archive at archivePath into the folder destination: sub-folders
// are created, existing files replaced, stored Unix permissions (without set-id bits and without
// group or other write bits) and modification times applied, symbolic links recreated, nested
// archives left packed. Whatever an earlier install left in an entry's way (a file where a
// folder belongs, a folder where a file or link belongs, a link where a folder belongs) is
// replaced. Each entry streams through a fixed-size buffer, whatever its size. Unfinished files
// that a killed unpack left anywhere in destination are removed first.
//
// An entry that could put anything outside destination is refused and fails the whole unpack:
// absolute names, ".." components, links whose target leaves destination, and entries that would
// be written through a link of the same archive. So are entries that would write one of the
// launcher's own records (isLauncherRecordName) or a name of the unpacker's unfinished files. A
// failed entry leaves no half-written file under its name. Every refusal or failure is explained
// in one run-log line. True when every entry was unpacked.
bool unzipArchive(const std::string& archivePath, const std::string& destination,
                  const UnzipProgressHandler& progress);
