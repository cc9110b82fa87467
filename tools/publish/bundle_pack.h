#pragma once
#include "tools/publish/patched_pack.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

// Packing an application bundle folder into the archive the launcher unpacks: the game content
// or the launcher's own installer.

// Packs bundle (a folder named *.app holding the executable the launcher starts) into a new
// archive at output, with its release index, and with patches from older releases when
// patches names any (what became of each is told on report). The number of entries written;
// none, with problem set, when the bundle is refused or the archive cannot be written.
std::optional<std::size_t> packBundle(const std::filesystem::path& bundle,
                                      const std::filesystem::path& output,
                                      const PatchOptions& patches, std::ostream& report,
                                      std::string& problem);

// Whether a link's target, read in a folder depth levels below the packed folder's top, stays
// inside that folder: it may climb with leading "..", no higher than the top, and then only
// descend.
bool linkStaysInside(const std::filesystem::path& target, std::size_t depth);

// The path without the separators that end it ("Game.app/" is "Game.app").
std::filesystem::path withoutTrailingSeparator(std::filesystem::path path);
