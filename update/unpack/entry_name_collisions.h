#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Names of an archive that land on one file of a player's disk. Linux keeps Level.bin and
// level.bin, or "café" spelt with one code point and with two, as separate files; a Mac's default
// file system ignores letter case and Unicode normalization, so there one entry silently replaces
// the other. A release has to unpack to the same files everywhere, so such names are refused
// wherever entries are listed: both install roads and the publishing tool.

// Two entries, by their positions in the list (first comes before second), and the paths at
// which they meet as each spells them: the whole names, or the folders that hold them. The two
// spellings are equal when the same name is given twice.
struct EntryNameCollision {
    std::size_t first = 0;
    std::size_t second = 0;
    std::string firstSpelling;
    std::string secondSpelling;
};

// The first pair of names (ordered by the later one) that is the same file or link name twice,
// or that names one place on a disk that ignores case and normalization while being spelt
// differently, at any level of the path. Names are archive paths with "/" between folders, a
// folder entry's ending with "/"; empty and "." components do not count. A folder and what lies
// inside it are no collision, and neither is a folder named once as an entry of its own and once
// as part of its contents' paths, nor a folder entry spelt exactly as another entry (the later
// replaces the earlier on every disk alike).
std::optional<EntryNameCollision> firstEntryNameCollision(const std::vector<std::string>& names);

// Why the two names collide, for a line that names both: "the same name twice", or how their
// spellings differ.
std::string entryNameCollisionReason(const std::vector<std::string>& names,
                                     const EntryNameCollision& collision);
