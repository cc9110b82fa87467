#include "update/release/installed_version.h"

#include "launcher/run_log.h"
#include "platform/durable_record.h"
#include "platform/file_descriptor.h"
#include "platform/regular_file.h"

#include <fcntl.h>

std::string currentAppVersion = "1.0.1";
std::string latestVersionText;

std::optional<INIReader> readCurrentVersionIni(const std::string& folder) {
    // Read here rather than by INIReader, whose fopen would wait on a pipe standing at the name.
    const auto text = readRegularFile(AT_FDCWD, folder + "/CurrentVersion.ini");
    if (!text) {
        return std::nullopt;
    }
    INIReader reader(text->data(), text->size());
    if (reader.ParseError() < 0) {
        return std::nullopt;
    }
    return reader;
}

bool loadCurrentVersionIni(const std::string& folder) {
    const auto reader = readCurrentVersionIni(folder);
    if (!reader) {
        return false;
    }
    currentAppVersion = reader->Get("", "ApplicationVersion", currentAppVersion);
    return true;
}

std::string installedIndexSha256(const std::string& folder) {
    const auto reader = readCurrentVersionIni(folder);
    return reader ? reader->Get("", "ApplicationIndexSha256", "") : std::string();
}

int saveCurrentVersionIni(const std::string& folder, const std::string& manifestText) {
    // As every record of the launcher: never written through a link, durable, and renamed over
    // the old one, so that an interrupted write never leaves half a record behind. The text up
    // to its first NUL, the way the record has always been written.
    const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid() ||
        !writeRecordDurably(directory.fd, "CurrentVersion.ini", "CurrentVersion.ini.partial",
                            manifestText.c_str())) {
        writeToLog("failed to save CurrentVersion.ini! contentAppPath: " + folder);
        return 1;
    }
    return 0;
}
