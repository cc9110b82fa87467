#pragma once
// Game releases that differ the way real ones do (a big packed file with a little of it
// changed), packed by launcher-publish with and without patches, and the launcher's patch
// applier run on what they carry.
#include "tests/support/child_process.h"
#include "update/patch/zstd_patch.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// size bytes that no compressor shrinks, the same for the same seed.
std::string incompressibleBytes(std::size_t size, unsigned seed);

// data with a hundredth of it rewritten in one run past the middle and 25 bytes inserted near
// the start, which shifts everything after them.
std::string changedSlightly(std::string data, unsigned seed);

// <folder>/<name>.app with an executable the launcher would start and, below Contents/Resources,
// the given files by relative path.
std::filesystem::path makeGameBundle(const std::filesystem::path& folder,
                                     const std::map<std::string, std::string>& resources,
                                     const std::string& name = "Game");

// launcher-publish pack <bundle> --output <archive> <extra...>.
ChildResult packRelease(const std::filesystem::path& bundle, const std::filesystem::path& archive,
                        const std::vector<std::string>& extra = {});

// "Game.app/Contents/Resources/" + file.
std::string resourceEntry(const std::string& file, const std::string& bundle = "Game");

// The entries of archive below the patch folder, by name, with their bytes.
std::map<std::string, std::string> patchEntriesOf(const std::filesystem::path& archive);

// An entry's compression method and compressed size as libzip reads them.
struct EntryStorage {
    std::int32_t method = -1;
    std::uint64_t compressedSize = 0;
};
EntryStorage storageOf(const std::filesystem::path& archive, const std::string& name);

// A zstd frame whose header does not say how large its result is; or, given size, one whose
// header announces that size, cut off after its first block.
std::string zstdFrameAnnouncing(std::optional<unsigned long long> size);

// Applies patch (its bytes) to the file base and writes output (created, or emptied), which is
// to be expectedBytes long.
PatchOutcome applyPatchBytes(const std::filesystem::path& base, const std::string& patch,
                             const std::filesystem::path& output, std::uint64_t expectedBytes);
