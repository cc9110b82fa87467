#pragma once
#include <optional>
#include <string>
#include <vector>

// One line of /proc/self/mountinfo, with its escapes (\040 and the like) undone.
struct MountEntry {
    int id = 0;
    std::string mountPoint;
    std::string source;
};

std::vector<MountEntry> parseMountInfo(const std::string& text);

// The mount that holds the absolute, link-free path: the deepest mount point above it, and of
// several mounts on one point the last, which hides the others.
std::optional<MountEntry> mountHolding(const std::vector<MountEntry>& mounts,
                                       const std::string& path);

// The same for this process's own mount table; the path's links are resolved first.
std::optional<MountEntry> mountHoldingPath(const std::string& path);
