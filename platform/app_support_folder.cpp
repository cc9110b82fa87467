#include "platform/app_support_folder.h"

#include "platform/file_presence.h"
#include "platform/path_component.h"
#include "platform/platform_log.h"
#include "platform/standard_folders.h"

std::string appSupportFolder;

namespace {

bool ensureFolder(const std::string& path) {
    const std::string problem = createFolderWhenMissing(path);
    if (!problem.empty()) {
        platformLog("Unable to create folder at " + path + ": " + problem);
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
    const std::string companyPath = appendPathComponent(base, companyFolderName);
    if (!ensureFolder(companyPath)) {
        return std::nullopt;
    }
    const std::string appPath = appendPathComponent(companyPath, appFolderName);
    if (!ensureFolder(appPath)) {
        return std::nullopt;
    }
    appSupportFolder = appPath;
    return appPath;
}
