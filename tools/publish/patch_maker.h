#pragma once
#include "platform/mapped_file.h"

#include <cstdint>
#include <string>

// Making one patch: a single zstd frame that turns the older file (the reference) into the new
// one, with long-distance matching and a window that reaches from the end of the new file back
// over the whole reference, as `zstd --patch-from` makes them. The launcher applies it with
// update/patch/zstd_patch.h.

// The zstd tool's default level: a 1 GiB pair takes seconds, and the changed bytes, which make
// up most of a patch, gain little from higher levels.
constexpr int patchCompressionLevel = 3;

// The window that covers the reference and the new file, as a power of two, at most libzstd's
// largest (2 GiB).
int patchWindowLog(std::uint64_t referenceBytes, std::uint64_t targetBytes);

enum class PatchMade { Made, TooLarge, Failed };

struct MadePatch {
    PatchMade outcome = PatchMade::Failed;
    std::uint64_t bytes = 0; // written to the output
    std::string sha256;      // of what was written, when Made
    std::string problem;     // when Failed
};

// Writes the patch from reference to target into outputFd at its current position. Gives up
// (TooLarge) as soon as the patch reaches limit bytes: it would not be kept.
MadePatch makeZstdPatch(const FileMapping& reference, const FileMapping& target, int outputFd,
                        std::uint64_t limit);
