#pragma once
#include <string>
#include <vector>

#include "tests/support/plist_files.h"

// Makes an application bundle at bundlePath whose executable Contents/MacOS/<executableName>
// is the test game. Info.plist gets the given entries (none: no Info.plist at all).
void makeGameBundle(const std::string& bundlePath, const std::string& executableName,
                    const PlistEntries& infoPlist = {});

// The test game's record: its process id and arguments, once it has started (waits up to 10 s),
// and the descriptors it found open when it began.
struct GameRecord {
    int pid = 0;
    std::vector<std::string> arguments;
    std::vector<int> descriptors;
};
GameRecord waitForGameRecord(const std::string& executablePath);
