#pragma once
#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <zip.h>

// A release carries each patch as a stored entry of its patch folder, named by the SHA-256 of
// the file it applies to and of the file it makes:
//   .launcher-patches/<base SHA-256>-<result SHA-256>.zst
// so that an update finds the patch for what a player has installed by hash alone.

struct PatchKey {
    std::string baseSha256;   // the older file the patch applies to
    std::string resultSha256; // the file it makes
    auto operator<=>(const PatchKey&) const = default;
};

std::string patchEntryName(const PatchKey& key);

// The key of an entry name of the form above (lower-case hex only); none for any other name.
std::optional<PatchKey> parsePatchEntryName(std::string_view name);

// The patches among an archive's entry names, where a name's position is its entry index; the
// first entry wins when two carry the same key.
using PatchEntries = std::map<PatchKey, std::uint64_t>;
PatchEntries findPatchEntries(const std::vector<std::string>& names);
PatchEntries findPatchEntries(zip_t* archive);
