#include "platform/standard_folders.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

std::string homeFolder() {
    std::string home = environmentValue("HOME");
    if (!home.empty()) {
        return home;
    }
    const passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? std::string(entry->pw_dir) : std::string();
}

std::string temporaryDirectory() {
    std::string folder = environmentValue("TMPDIR");
    if (folder.empty()) {
        folder = "/tmp";
    }
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

std::string userApplicationSupportFolder() {
    const std::string dataHome = environmentValue("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome.front() == '/') {
        return dataHome;
    }
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/.local/share";
}
