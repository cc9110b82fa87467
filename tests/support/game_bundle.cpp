#include "tests/support/game_bundle.h"

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
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

std::string zippedGameBundle(const fs::path& scratch, const std::string& name) {
    const std::string bundleName = name + ".app";
    makeGameBundle((scratch / bundleName).string(), name);
    const fs::path archive = scratch / (name + ".zip");
    fs::remove(archive);
    const ChildResult zipped =
        runChild("/usr/bin/zip", {"-q", "-r", "-y", archive.string(), bundleName}, {},
                 std::chrono::seconds(60), scratch.string());
    if (zipped.exitStatus != 0) {
        throw std::runtime_error("zip failed: " + zipped.standardError);
    }
    return readFile(archive);
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
