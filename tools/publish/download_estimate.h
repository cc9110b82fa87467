#pragma once
#include "tools/publish/release_patches.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <zip.h>

// What players will fetch of a release on the launcher's entry-wise road: a player with nothing
// installed fetches every entry but the patches; a player of an older release fetches the
// release index, nothing of a file whose installed copy already has the new content, the patch
// from that copy when the release carries one, and every other file whole. Local headers and
// the central directory add a little; the figures count the entries' compressed bytes.
struct PlayersDownload {
    std::string players; // "new players", or the older archive they have
    std::uint64_t bytes = 0;
    std::size_t entries = 0; // entries fetched
    std::size_t patched = 0; // of which patches
};

// An entry of the new release: its name and compressed size, in the archive's order.
struct ReleaseEntry {
    std::string name;
    std::uint64_t compressedBytes = 0;
};

// The entries of the archive; none, with problem set, when one cannot be read.
std::optional<std::vector<ReleaseEntry>> readReleaseEntries(zip_t* archive, std::string& problem);

PlayersDownload newPlayersDownload(const std::vector<ReleaseEntry>& entries);

// For players of older; index is the new release's (ReleaseIndex.sha256 parsed). An older
// release without an index counts every file as changed.
PlayersDownload olderPlayersDownload(const std::vector<ReleaseEntry>& entries,
                                     const std::vector<ReleaseIndexEntry>& index,
                                     const OlderRelease& older);
