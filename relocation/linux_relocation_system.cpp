#include "relocation/linux_relocation_system.h"

#include "platform/application_bundle.h"
#include "platform/main_bundle.h"
#include "platform/platform_log.h"
#include "platform/running_applications.h"
#include "platform/standard_folders.h"
#include "relocation/freedesktop_trash.h"
#include "relocation/mount_table.h"
#include "relocation/relocation_commands.h"
#include "relocation/tool_process.h"

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <plist/plist.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// pkexec's exit code when the user dismissed its prompt, and Authorization Services' status
// for a refused right and for a tool that could not be started.
constexpr int pkexecDismissed = 126;
constexpr int errAuthorizationDenied = -60005;
constexpr int errAuthorizationToolExecuteFailure = -60031;

// An AppKit of today, so that every decision takes the current road.
constexpr double currentAppKitVersion = 2299;

// How long a launcher that started this process is given to end. The self-update's old
// launcher ends as soon as it has started the new one; this only bounds a starter that stays.
constexpr auto startingApplicationGrace = std::chrono::seconds(30);
constexpr auto endPollInterval = std::chrono::milliseconds(50);

std::mutex mainThreadCallsMutex;
std::deque<std::function<void()>> mainThreadCalls;

// Whether process runs from a bundle of the same name as this one's: only such a bundle can be
// the copy at the destination.
bool runsFromANamesake(pid_t process) {
    const fs::path ownName = fs::path(mainBundlePath()).filename();
    for (const RunningApplication& application : runningApplications()) {
        if (application.processIdentifier == process) {
            return !application.bundlePath.empty() &&
                   fs::path(application.bundlePath).filename() == ownName;
        }
    }
    return false;
}

// A self-update's old launcher starts the new one and ends. Until it has ended it counts as a
// running copy at the destination, and the new launcher would end in its favour, losing the
// update. Once the parent has ended this process is handed to another one.
void waitForStartingApplication() {
    const pid_t parent = getppid();
    if (!runsFromANamesake(parent)) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + startingApplicationGrace;
    while (getppid() == parent && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(endPollInterval);
    }
}

} // namespace

RelocationSystem& linuxRelocationSystem() {
    static LinuxRelocationSystem system;
    return system;
}

void runScheduledMainThreadCalls() {
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(mainThreadCallsMutex);
            if (mainThreadCalls.empty()) {
                return;
            }
            call = std::move(mainThreadCalls.front());
            mainThreadCalls.pop_front();
        }
        call();
    }
}

bool LinuxRelocationSystem::isMainThread() {
    return gettid() == getpid();
}

void LinuxRelocationSystem::scheduleOnMainThread(std::function<void()> call) {
    std::lock_guard lock(mainThreadCallsMutex);
    mainThreadCalls.push_back(std::move(call));
}

std::string LinuxRelocationSystem::bundlePath() {
    return mainBundlePath();
}

std::vector<std::string> LinuxRelocationSystem::allApplicationsFolders() {
    std::vector<std::string> folders;
    const std::string home = homeFolder();
    if (!home.empty() && home.front() == '/') {
        folders.push_back(resolvingSymlinks(home + "/Applications"));
    }
    folders.push_back(resolvingSymlinks("/opt"));
    return folders;
}

std::vector<std::string> LinuxRelocationSystem::localApplicationsFolders() {
    return {"/opt"};
}

std::optional<std::string> LinuxRelocationSystem::folderOfUsersCopy(const std::string& bundleName) {
    const std::string home = homeFolder();
    if (home.empty() || home.front() != '/' || bundleName.empty()) {
        return std::nullopt;
    }
    const std::string folder = resolvingSymlinks(home + "/Applications");
    if (!fileExists(folder + "/" + bundleName)) {
        return std::nullopt;
    }
    return folder;
}

std::string LinuxRelocationSystem::resolvingSymlinks(const std::string& path) {
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(path, error);
    return error ? path : resolved.string();
}

std::optional<FileSystemInfo> LinuxRelocationSystem::fileSystemOf(const std::string& folder) {
    struct statfs status {};
    if (statfs(folder.c_str(), &status) != 0) {
        return std::nullopt;
    }
    const auto mount = mountHoldingPath(folder);
    if (!mount) {
        return std::nullopt;
    }
    return FileSystemInfo{mount->mountPoint == "/", mount->source};
}

std::optional<std::string>
LinuxRelocationSystem::runToolCapturingOutput(const std::string& tool,
                                              const std::vector<std::string>& arguments) {
    return runToolForOutput(tool, arguments);
}

std::optional<PropertyList> LinuxRelocationSystem::parsePropertyList(const std::string& data,
                                                                     PropertyListReader) {
    if (data.empty() || data.size() > UINT32_MAX) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &root);
    if (!root) {
        return std::nullopt;
    }
    return PropertyList(root);
}

bool LinuxRelocationSystem::isWritable(const std::string& path) {
    return access(path.c_str(), W_OK) == 0;
}

bool LinuxRelocationSystem::fileExists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

bool LinuxRelocationSystem::isSameItem(const std::string& first, const std::string& second) {
    std::error_code error;
    return fs::equivalent(first, second, error) && !error;
}

std::optional<std::string> LinuxRelocationSystem::copyItem(const std::string& from,
                                                           const std::string& to) {
    std::error_code error;
    // Like the file manager's copy, never into or over something that is already there.
    if (fs::exists(fs::symlink_status(to, error))) {
        return "an item already exists at " + to;
    }
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) {
        return error.message();
    }
    return std::nullopt;
}

bool LinuxRelocationSystem::trashWithFileManager(const std::string& path) {
    return moveToTrash(path);
}

std::optional<std::string> LinuxRelocationSystem::runAppleScript(const std::string&) {
    return std::string("{NSAppleScriptErrorMessage = \"There is no Finder on this system\";}");
}

std::vector<std::string> LinuxRelocationSystem::runningApplicationBundlePaths() {
    waitForStartingApplication();
    std::vector<std::string> paths;
    for (const RunningApplication& application : runningApplications()) {
        if (!application.bundlePath.empty()) {
            paths.push_back(application.bundlePath);
        }
    }
    return paths;
}

// pkexec has no separate prompt; running a harmless tool through it asks for the password
// before anything is changed, and tells a dismissed prompt from a refusal.
int LinuxRelocationSystem::authorizationCopyRights(const std::string&, unsigned) {
    if (access(pkexecPath, X_OK) != 0) {
        return errAuthorizationDenied;
    }
    const int code = runToolAndWait(pkexecPath, {"/bin/true"});
    if (code == 0) {
        return 0;
    }
    return code == pkexecDismissed ? errAuthorizationCanceled : errAuthorizationDenied;
}

bool LinuxRelocationSystem::lookUpExecuteWithPrivileges() {
    return access(pkexecPath, X_OK) == 0;
}

int LinuxRelocationSystem::executeWithPrivileges(const std::string& tool,
                                                 const std::vector<std::string>& arguments) {
    std::vector<std::string> words{tool};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const auto child = startTool(pkexecPath, words);
    if (!child) {
        return errAuthorizationToolExecuteFailure;
    }
    privilegedChild = *child;
    return 0;
}

int LinuxRelocationSystem::waitForChild() {
    if (privilegedChild <= 0) {
        return -1;
    }
    const int status = waitForTool(privilegedChild);
    privilegedChild = -1;
    return status;
}

void LinuxRelocationSystem::startShellScript(const std::string& script) {
    startTool("/bin/bash", {"-c", script});
}

int LinuxRelocationSystem::runShellScript(const std::string& script) {
    return runToolAndWait("/bin/bash", {"-c", script});
}

std::string LinuxRelocationSystem::openCommand(const std::string& path) {
    const std::string executable = applicationExecutablePath(path);
    return shellQuote(executable.empty() ? path : executable);
}

int LinuxRelocationSystem::processIdentifier() {
    return static_cast<int>(getpid());
}

double LinuxRelocationSystem::appKitVersionNumber() {
    return currentAppKitVersion;
}

void LinuxRelocationSystem::log(const std::string& message) {
    platformLog(message);
}

void LinuxRelocationSystem::exitProcess(int status) {
    std::exit(status);
}
