#include "uninstall/user_data_removal.h"

#include "launcher/run_log.h"
#include "platform/app_support_folder.h"
#include "platform/path_component.h"
#include "platform/standard_folders.h"
#include "uninstall/uninstall_config.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

bool isRemovableDataFolder(const std::string& folder, const std::string& applicationSupport,
                           const std::string& company, const std::string& app) {
    if (applicationSupport.empty() || applicationSupport.front() != '/') {
        return false;
    }
    if (!isSingleFolderName(company) || !isSingleFolderName(app)) {
        return false;
    }
    const std::string expected =
        appendPathComponent(appendPathComponent(applicationSupport, company), app);
    return folder == expected;
}

int removeUserDataFolder() {
    const std::string folder = appSupportFolder;
    const UninstallConfig& config = uninstallConfig;
    // A recursive delete driven by settings text must never reach beyond the data folder.
    if (!isRemovableDataFolder(folder, userApplicationSupportFolder(), config.companyFolderName,
                               config.appFolderName)) {
        writeToLog("Refusing to remove '" + folder +
                   "': it is not the data folder inside the Application Support folder");
        return 1;
    }
    std::error_code error;
    const fs::file_status status = fs::symlink_status(folder, error);
    if (status.type() == fs::file_type::not_found) {
        return 0;
    }
    if (error) {
        return 1; // cannot even tell whether it is there: not removed
    }
    fs::remove_all(folder, error);
    return error ? 1 : 0;
}
