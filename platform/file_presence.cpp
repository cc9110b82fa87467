#include "platform/file_presence.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

bool fileExistsAtPath(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

std::string createFolderWhenMissing(const std::string& path) {
    if (fileExistsAtPath(path)) {
        return {};
    }
    std::error_code error;
    fs::create_directories(path, error);
    return error ? error.message() : std::string();
}
