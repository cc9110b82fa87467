#pragma once
#include "platform/file_descriptor.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <zip.h>

// Applying a release's patch: a single zstd frame made with the older file as its reference
// prefix (see tools/publish/patch_maker.h). The base is the installed file, memory-mapped, and
// the result is written through a mapping of the output file, so the process's own memory stays
// at the decoder's few hundred KiB whatever the files weigh.

// The largest result a patch may make; larger files travel whole.
constexpr std::uint64_t largestPatchedFile = std::uint64_t{2} << 30;

// Reads up to size bytes of the patch into buffer and returns how many; 0 at its end, -1 on a
// failure, with failure set to why.
using PatchReader =
    std::function<std::int64_t(void* buffer, std::size_t size, std::string& failure)>;

struct PatchOutcome {
    std::string sha256; // lower-case hex of the result; empty on failure
    std::uint64_t bytes = 0;
    std::string failure; // why the patch did not apply; empty on success
    // Where the time went, for the run log: reserving and mapping the result, decoding it, and
    // finishing its hash once the last byte was made.
    double preparingSeconds = 0;
    double decodingSeconds = 0;
    double hashTailSeconds = 0;
    bool applied() const { return failure.empty(); }
};

// Opens the file at components below root for reading as a patch base, following no link on
// the way or at the end. Invalid, with failure set, when it is not a regular file there.
Descriptor openPatchBase(int root, const std::vector<std::string>& components,
                         std::string& failure);

// Applies the patch read by readPatch to the file open at baseFd and writes the result, which
// must be expectedBytes long, to outputFd, which must be a regular file open for reading and
// writing (the patch refers back to what it has already made, which is read from the file's
// mapping). Whatever outputFd held is replaced. A frame that does not announce expectedBytes as
// its result's size is refused before anything is reserved or written. On failure outputFd is
// left empty and nothing of the result is reported; the caller must still compare the result's
// hash with the one it expects. The base must not change while the patch applies.
PatchOutcome applyZstdPatch(int baseFd, const PatchReader& readPatch, int outputFd,
                            std::uint64_t expectedBytes);

// The same, with the patch read from an archive entry.
PatchOutcome applyZstdPatch(int baseFd, zip_file_t* patch, int outputFd,
                            std::uint64_t expectedBytes);
