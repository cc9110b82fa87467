#include "update/unpack/launcher_records.h"

#include "update/release/highest_serial_record.h"
#include "update/release/install_number_record.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 14> recordNames{"out.log",
                                                       "CurrentVersion.ini",
                                                       "CurrentVersion.ini.partial",
                                                       "launcher.lock",
                                                       highestSerialRecordName,
                                                       highestSerialPartialName,
                                                       stagingFolderName,
                                                       commitJournalName,
                                                       commitJournalPartialName,
                                                       installedFilesName,
                                                       installedFilesPartialName,
                                                       unsyncedInstalledFilesName,
                                                       installNumberRecordName,
                                                       installNumberPartialName};

// The data folder of a Mac is usually on a volume that ignores letter case: "OUT.LOG" would
// land on the run log there.
bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool isNumber(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

} // namespace

bool isUnpackPartialName(const std::string& name) {
    constexpr std::string_view prefix = ".unzip-";
    constexpr std::string_view suffix = ".partial";
    std::string_view text = name;
    if (!text.starts_with(prefix) || !text.ends_with(suffix)) {
        return false;
    }
    text = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
    const auto dash = text.find('-');
    return dash != std::string_view::npos && isNumber(text.substr(0, dash)) &&
           isNumber(text.substr(dash + 1));
}

std::string resumablePartialName(std::uint64_t index) {
    return ".unzip-resume-" + std::to_string(index) + ".partial";
}

bool isResumablePartialName(const std::string& name) {
    constexpr std::string_view prefix = ".unzip-resume-";
    constexpr std::string_view suffix = ".partial";
    const std::string_view text = name;
    return text.size() > prefix.size() + suffix.size() && text.starts_with(prefix) &&
           text.ends_with(suffix) &&
           isNumber(text.substr(prefix.size(), text.size() - prefix.size() - suffix.size()));
}

bool isLauncherRecordName(const std::string& topLevelName) {
    return isUnpackPartialName(topLevelName) ||
           std::any_of(recordNames.begin(), recordNames.end(), [&](std::string_view record) {
               return equalIgnoringCase(topLevelName, record);
           });
}

bool isPatchFolderName(const std::string& topLevelName) {
    return equalIgnoringCase(topLevelName, patchFolderName);
}
