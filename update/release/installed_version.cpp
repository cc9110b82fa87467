#include "update/release/installed_version.h"

#include "launcher/run_log.h"
#include "platform/regular_file.h"

#include <INIReader.h>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

std::string currentAppVersion = "1.0.1";
std::string latestVersionText;

bool loadCurrentVersionIni(const std::string& folder) {
    // Read here rather than by INIReader, whose fopen would wait on a pipe standing at the name.
    const auto text = readRegularFile(AT_FDCWD, folder + "/CurrentVersion.ini");
    if (!text) {
        return false;
    }
    const INIReader reader(text->data(), text->size());
    if (reader.ParseError() < 0) {
        return false;
    }
    currentAppVersion = reader.Get("", "ApplicationVersion", currentAppVersion);
    return true;
}

namespace {

// Writes the text up to its first NUL, the way the record has always been written.
bool writeWhole(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fputs(text.c_str(), file) >= 0;
    const bool flushed = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed;
}

} // namespace

int saveCurrentVersionIni(const std::string& folder, const std::string& manifestText) {
    // Written beside the record and renamed over it, so that an interrupted write never leaves
    // half a record behind.
    const std::string path = folder + "/CurrentVersion.ini";
    const std::string partial = path + ".partial";
    if (!writeWhole(partial, manifestText) || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        writeToLog("failed to save CurrentVersion.ini! contentAppPath: " + folder);
        return 1;
    }
    return 0;
}
