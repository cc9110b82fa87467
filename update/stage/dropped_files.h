#pragma once
#include "update/stage/installed_files.h"

#include <cstddef>
#include <set>
#include <string>
#include <vector>

// What a release no longer ships. Only files the launcher recorded as installed, and still as it
// installed them, are removed; then the folders that this leaves empty, deepest first. Saves,
// settings, mods and whatever else the player or the game made stay, inside the bundle or
// beside it, and so does every folder still holding anything.

struct ReleasePaths {
    std::set<std::string> files;   // every file and link of the release
    std::set<std::string> folders; // every folder of it, the parents of its files included
};

// Adds path, and every folder above it, to release.
void addReleaseFile(ReleasePaths& release, const std::string& path);
void addReleaseFolder(ReleasePaths& release, const std::string& path);

// The recorded files that release does not ship.
std::vector<InstalledFile> droppedFiles(const InstalledFiles& recorded,
                                        const ReleasePaths& release);

// Removes the dropped files below dataFolder and the folders this empties, never a folder of
// the release and never the data folder itself. How many files went.
std::size_t removeDroppedFiles(int dataFolder, const std::vector<InstalledFile>& dropped,
                               const ReleasePaths& release);
