#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/plist_files.h"

// Makes an application bundle at bundlePath whose executable Contents/MacOS/<executableName>
// is the test game. Info.plist gets the given entries (none: no Info.plist at all).
void makeGameBundle(const std::string& bundlePath, const std::string& executableName,
                    const PlistEntries& infoPlist = {});

// A release of the test game as a publisher without our tool makes one: the bundle
// <name>.app, made under scratch, packed by Info-ZIP (links kept as links). Returns the
// archive's bytes.
std::string zippedGameBundle(const std::filesystem::path& scratch,
                             const std::string& name = "Drift Moor");

// The test game's record: its process id and arguments, once it has started (waits up to 10 s),
// and the descriptors it found open when it began.
struct GameRecord {
    int pid = 0;
    std::vector<std::string> arguments;
    std::vector<int> descriptors;
};
GameRecord waitForGameRecord(const std::string& executablePath);
