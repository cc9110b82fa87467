#include "tests/support/game_bundle.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

void makeGameBundle(const std::string& bundlePath, const std::string& executableName,
                    const PlistEntries& infoPlist) {
    const fs::path macos = fs::path(bundlePath) / "Contents" / "MacOS";
    fs::create_directories(macos);
    fs::copy_file(TEST_GAME_PATH, macos / executableName, fs::copy_options::overwrite_existing);
    fs::permissions(macos / executableName, fs::perms::owner_all | fs::perms::group_read |
                                                fs::perms::group_exec | fs::perms::others_read |
                                                fs::perms::others_exec);
    if (!infoPlist.empty()) {
        writeXmlPlist((fs::path(bundlePath) / "Contents" / "Info.plist").string(), infoPlist);
    }
}

GameRecord waitForGameRecord(const std::string& executablePath) {
    const std::string recordPath = executablePath + ".pid";
    GameRecord record;
    for (int i = 0; i < 500 && !fs::exists(recordPath); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream file(recordPath);
    std::string line;
    if (std::getline(file, line)) {
        record.pid = std::stoi(line);
    }
    while (std::getline(file, line)) {
        record.arguments.push_back(line);
    }
    std::ifstream descriptors(executablePath + ".fds");
    for (int descriptor = 0; descriptors >> descriptor;) {
        record.descriptors.push_back(descriptor);
    }
    return record;
}
