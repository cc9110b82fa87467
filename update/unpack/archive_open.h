#pragma once
#include "update/unpack/zip_entries.h"

#include <cstdint>
#include <string>
#include <zip.h>

// The most that finding and parsing an archive's central directory may read: libzip keeps a
// copy of all of it (names, extra fields, comments) for as long as the archive is open. About
// 300,000 entries with names of 60 bytes.
constexpr std::uint64_t largestCentralDirectoryBytes = 32 * 1024 * 1024;

// Opens the archive that source reads, read-only; source (none when it could not be made) is
// taken over whatever comes of it.
// The reads that libzip makes while it opens the archive are held to
// largestCentralDirectoryBytes: a central directory that would take more is not read on, and
// the archive is refused with one run-log line naming label (tooLarge then says so). Any other
// failure leaves libzip's reason in error. Reads after the opening are not held.
ArchiveHandle openArchive(zip_source_t* source, const std::string& label, zip_error_t& error,
                          bool& tooLarge);

// Opens the archive file at archivePath as above; none after one run-log line.
ArchiveHandle openArchiveFile(const std::string& archivePath);
