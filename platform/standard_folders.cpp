#include "platform/standard_folders.h"

#include "platform/platform_log.h"
#include "platform/private_folder.h"

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

namespace {

std::string withTrailingSlash(std::string folder) {
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

} // namespace

std::string sharedTemporaryDirectory() {
    const std::string folder = environmentValue("TMPDIR");
    return withTrailingSlash(folder.empty() ? std::string("/tmp") : folder);
}

std::string privateTemporaryDirectory(const std::string& runtimeFolder,
                                      const std::string& sharedRoot) {
    if (!runtimeFolder.empty() && runtimeFolder.front() == '/' &&
        privateFolderProblem(runtimeFolder).empty()) {
        return withTrailingSlash(runtimeFolder);
    }
    // Anyone may create names in the shared folder: one made or swapped by another user is
    // refused rather than written into.
    const std::string folder =
        withTrailingSlash(sharedRoot) + "launcher-" + std::to_string(::getuid());
    const std::string problem = makePrivateFolder(folder);
    if (!problem.empty()) {
        platformLog("Refusing temporary folder " + folder + ": " + problem);
        return {};
    }
    return folder + "/";
}

std::string temporaryDirectory() {
    const std::string chosen = environmentValue("TMPDIR");
    if (!chosen.empty()) {
        return withTrailingSlash(chosen);
    }
    return privateTemporaryDirectory(environmentValue("XDG_RUNTIME_DIR"), "/tmp");
}

std::string userApplicationSupportFolder() {
    const std::string dataHome = environmentValue("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome.front() == '/') {
        return dataHome;
    }
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/.local/share";
}
