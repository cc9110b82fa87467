#include "update/application_names.h"

#include "launcher/run_log.h"
#include "platform/app_support_folder.h"

bool applicationNamesStayInside(const std::string& appDisplayName,
                                const std::string& executablePrefix) {
    if (!isSingleFolderName(appDisplayName)) {
        writeToLog("Refusing appDisplayName '" + appDisplayName + "': it must be a single name");
        return false;
    }
    const std::string bundleName = executablePrefix + appDisplayName + ".app";
    if (!isSingleFolderName(bundleName)) {
        writeToLog("Refusing application bundle name '" + bundleName +
                   "': it must be a single name");
        return false;
    }
    return true;
}
