#pragma once
#include "tools/publish/pack_archive.h"
#include "update/release/release_index.h"

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

// pack --patch-from: the release as pack makes it, plus a zstd patch for each file that an
// older release holds under the same path with other content, where the patch is smaller than
// half of the file's own compressed entry. Patches come after the bundle and before the index,
// which lists them like any entry.

struct PatchOptions {
    std::vector<std::string> olderArchives;
    std::uint64_t minimumSize = 1 << 20;
};

// Writes the release at output, telling on report what became of each patch. When it fails
// (problem set) nothing is left at output that was not there before, nor any scratch file.
bool writePatchedArchive(const std::filesystem::path& output, const std::vector<PackEntry>& entries,
                         std::vector<ReleaseIndexEntry> index, const PatchOptions& options,
                         std::ostream& report, std::string& problem);
