#include "relocation/app_relocator.h"

#include "platform/path_component.h"
#include "relocation/bundle_paths.h"
#include "relocation/disk_image_device.h"
#include "relocation/linux_relocation_system.h"
#include "relocation/relocation_commands.h"

#include <cmath>
#include <sys/wait.h>

namespace {

// The last AppKit of macOS 10.5, and the first whose file manager can trash items.
constexpr double lastLegacyAppKit = 949;
constexpr double firstTrashingAppKit = 1187;

constexpr const char* adminRight = "system.privilege.admin";
// Interaction allowed, extend rights, pre-authorize.
constexpr unsigned adminRightFlags = 0x13;

// Exit codes of the privileged runner (pkexec, and shells) for a tool that never ran.
constexpr int toolNotRun = 126;
constexpr int toolNotFound = 127;

const std::string authorizationFailure =
    "ERROR -- Could not copy myself to /Applications with authorization";

std::string trimmedBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Frees the authorization on every way out once it was created.
struct AuthorizationHold {
    RelocationSystem& system;
    ~AuthorizationHold() { system.authorizationFree(); }
};

} // namespace

void relocateToApplicationsFolder() {
    static AppRelocator relocator(linuxRelocationSystem());
    relocator.relocateToApplicationsFolder();
}

bool AppRelocator::appKitIsLegacy() {
    return std::floor(system.appKitVersionNumber()) <= lastLegacyAppKit;
}

void AppRelocator::relocateToApplicationsFolder() {
    if (!system.isMainThread()) {
        system.scheduleOnMainThread([this] { relocateToApplicationsFolder(); });
        return;
    }
    const std::string bundlePath = system.bundlePath();
    const bool isNested = bundleIsNested(bundlePath);
    if (isInApplicationsFolder(bundlePath, system.allApplicationsFolders()) && !isNested) {
        return;
    }
    // A program outside a bundle has its folder for a bundle; copying (or trashing a namesake
    // of) a whole folder into the Applications folder would be wrong.
    if (!hasAppExtension(bundlePath)) {
        system.log("INFO -- Not moving '" + bundlePath + "': it is not an application bundle");
        return;
    }
    const std::optional<std::string> diskImageDevice = findDiskImageDevice(bundlePath);

    const std::string bundleName = lastPathComponent(bundlePath);
    const auto destinationFolder = applicationsFolderFor(bundleName);
    if (!destinationFolder) {
        system.log("ERROR -- No Applications folder to move into");
        return;
    }
    const std::string applicationsFolder = system.resolvingSymlinks(*destinationFolder);
    const std::string destinationPath = appendPathComponent(applicationsFolder, bundleName);
    const bool destinationExists = system.fileExists(destinationPath);
    // Reached through a linked folder, the destination can be this very bundle: trashing it
    // would delete the running launcher.
    if (destinationExists && system.isSameItem(destinationPath, bundlePath)) {
        return;
    }
    const bool needsAuthorization = !system.isWritable(applicationsFolder) ||
                                    (destinationExists && !system.isWritable(destinationPath));

    if (!system.isActiveApplication()) {
        system.activateIgnoringOtherApps();
    }
    if (!moveIntoPlace(bundlePath, destinationPath, needsAuthorization)) {
        return;
    }
    relaunchFromDestination(destinationPath, isNested, diskImageDevice);
}

// The user's own copy is the one that must be replaced: a copy put elsewhere would leave the
// user starting the old one, which would update itself again on every run.
std::optional<std::string> AppRelocator::applicationsFolderFor(const std::string& bundleName) {
    if (auto usersFolder = system.folderOfUsersCopy(bundleName)) {
        return usersFolder;
    }
    const std::vector<std::string> localFolders = system.localApplicationsFolders();
    if (localFolders.empty()) {
        return std::nullopt;
    }
    return localFolders.back();
}

bool AppRelocator::moveIntoPlace(const std::string& bundlePath, const std::string& destinationPath,
                                 bool needsAuthorization) {
    if (needsAuthorization) {
        return copyWithAuthorization(bundlePath, destinationPath);
    }
    if (system.fileExists(destinationPath)) {
        if (isRunningCopy(destinationPath)) {
            system.log("INFO -- Switching to an already running version");
            system.openApplicationAndWait(destinationPath);
            system.exitProcess(0);
            return false;
        }
        if (!trashExistingCopy(destinationPath)) {
            return false;
        }
    }
    if (const auto error = system.copyItem(bundlePath, destinationPath)) {
        system.log("ERROR -- Could not copy '" + bundlePath + "' to '" + destinationPath + "' (" +
                   *error + ")");
        system.log("ERROR -- Could not copy myself to " + destinationPath);
        return false;
    }
    return true;
}

std::optional<std::string> AppRelocator::findDiskImageDevice(const std::string& bundlePath) {
    const auto fileSystem = system.fileSystemOf(parentFolder(bundlePath));
    if (!fileSystem || fileSystem->isRootFileSystem) {
        return std::nullopt;
    }
    const auto output = system.runToolCapturingOutput("/usr/bin/hdiutil", {"info", "-plist"});
    if (!output) {
        return std::nullopt;
    }
    const auto reader = appKitIsLegacy() ? PropertyListReader::Legacy : PropertyListReader::Modern;
    const auto info = system.parsePropertyList(*output, reader);
    if (!info) {
        return std::nullopt;
    }
    return deviceInHdiutilInfo(*info, fileSystem->mountSource);
}

bool AppRelocator::isRunningCopy(const std::string& destinationPath) {
    const std::string standardized = standardizedPath(destinationPath);
    if (appKitIsLegacy()) {
        return system.runShellScript(runningCopyTest(shellQuote(standardized))) == 0;
    }
    for (const std::string& running : system.runningApplicationBundlePaths()) {
        if (standardizedPath(running) == standardized) {
            return true;
        }
    }
    return false;
}

bool AppRelocator::copyWithAuthorization(const std::string& bundlePath,
                                         const std::string& destinationPath) {
    if (!hasAppExtension(destinationPath) || trimmedBlanks(destinationPath).empty() ||
        trimmedBlanks(bundlePath).empty() || system.authorizationCreate() != 0) {
        system.log(authorizationFailure);
        return false;
    }
    AuthorizedCopy outcome = AuthorizedCopy::Failed;
    {
        AuthorizationHold hold{system};
        outcome = copyAsAdministrator(bundlePath, destinationPath);
    }
    if (outcome == AuthorizedCopy::Cancelled) {
        system.log("INFO -- Not moving because user canceled authorization");
    } else if (outcome == AuthorizedCopy::Failed) {
        system.log(authorizationFailure);
    }
    return outcome == AuthorizedCopy::Copied;
}

AppRelocator::AuthorizedCopy AppRelocator::copyAsAdministrator(const std::string& bundlePath,
                                                               const std::string& destinationPath) {
    const int status = system.authorizationCopyRights(adminRight, adminRightFlags);
    if (status == errAuthorizationCanceled) {
        return AuthorizedCopy::Cancelled;
    }
    if (status != 0 || !haveExecuteWithPrivileges()) {
        return AuthorizedCopy::Failed;
    }
    if (!runPrivileged("/bin/rm", {"-rf", destinationPath}, false) ||
        !runPrivileged("/bin/cp", {"-pR", bundlePath, destinationPath}, true)) {
        return AuthorizedCopy::Failed;
    }
    return AuthorizedCopy::Copied;
}

bool AppRelocator::haveExecuteWithPrivileges() {
    if (!executeWithPrivilegesFound) {
        executeWithPrivilegesFound = system.lookUpExecuteWithPrivileges();
    }
    return executeWithPrivilegesFound;
}

bool AppRelocator::runPrivileged(const std::string& tool, const std::vector<std::string>& arguments,
                                 bool exitCodeMatters) {
    if (system.executeWithPrivileges(tool, arguments) != 0) {
        return false;
    }
    const int status = system.waitForChild();
    if (status == -1 || WIFSIGNALED(status)) {
        return false;
    }
    // 126 and 127 say that the tool itself never ran: the prompt was dismissed or refused, or
    // the tool could not be executed. Going on would copy the bundle into the old one.
    if (WIFEXITED(status) &&
        (WEXITSTATUS(status) == toolNotRun || WEXITSTATUS(status) == toolNotFound)) {
        return false;
    }
    return !exitCodeMatters || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

bool AppRelocator::trashExistingCopy(const std::string& destinationPath) {
    if (std::floor(system.appKitVersionNumber()) >= firstTrashingAppKit &&
        system.systemIsAtLeast10_8() && system.trashWithFileManager(destinationPath)) {
        return true;
    }
    if (system.recycleWithWorkspace(parentFolder(destinationPath),
                                    lastPathComponent(destinationPath))) {
        return true;
    }
    const auto error = system.runAppleScript(finderTrashScript(destinationPath));
    if (!error) {
        return true;
    }
    system.log("Trash AppleScript error: " + *error);
    system.log("ERROR -- Could not trash '" + destinationPath + "'");
    return false;
}

void AppRelocator::relaunchFromDestination(const std::string& destinationPath, bool isNested,
                                           const std::optional<std::string>& diskImageDevice) {
    const int pid = system.processIdentifier();
    const std::string quoted = shellQuote(destinationPath);
    const auto quarantine = system.quarantineRemoval(quoted, !appKitIsLegacy());
    system.startShellScript(relaunchScript(pid, quarantine, system.openCommand(destinationPath)));
    if (!isNested && diskImageDevice) {
        system.startShellScript(detachScript(shellQuote(*diskImageDevice)));
    }
    system.exitProcess(0);
}
