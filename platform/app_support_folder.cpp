#include "platform/app_support_folder.h"

#include "platform/platform_log.h"
#include "platform/standard_folders.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string appSupportFolder;

namespace {

// Anything at path counts as present: a plain file there is taken as the folder.
bool ensureFolder(const std::string& path) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(path, error))) {
        return true;
    }
    fs::create_directories(path, error);
    if (error) {
        platformLog("Unable to create folder at " + path + ": " + error.message());
        return false;
    }
    return true;
}

} // namespace

bool isSingleFolderName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::optional<std::string> createAppSupportFolder(const std::string& companyFolderName,
                                                  const std::string& appFolderName) {
    for (const std::string* name : {&companyFolderName, &appFolderName}) {
        if (!isSingleFolderName(*name)) {
            platformLog("Refusing data folder name '" + *name +
                        "': it must be a single folder name");
            return std::nullopt;
        }
    }
    const std::string base = userApplicationSupportFolder();
    if (base.empty()) {
        platformLog("Unable to find the user's Application Support folder");
        return std::nullopt;
    }
    const std::string companyPath = (fs::path(base) / companyFolderName).string();
    if (!ensureFolder(companyPath)) {
        return std::nullopt;
    }
    const std::string appPath = (fs::path(companyPath) / appFolderName).string();
    if (!ensureFolder(appPath)) {
        return std::nullopt;
    }
    appSupportFolder = appPath;
    return appPath;
}
