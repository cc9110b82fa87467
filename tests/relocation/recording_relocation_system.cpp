#include "tests/relocation/recording_relocation_system.h"

#include "relocation/relocation_commands.h"

#include <algorithm>
#include <plist/plist.h>

bool RecordingRelocationSystem::called(const std::string& what) const {
    return std::find(calls.begin(), calls.end(), what) != calls.end();
}

void RecordingRelocationSystem::scheduleOnMainThread(std::function<void()> call) {
    calls.push_back("schedule");
    scheduled.push_back(std::move(call));
}

std::optional<std::string>
RecordingRelocationSystem::folderOfUsersCopy(const std::string& bundleName) {
    calls.push_back("users copy " + bundleName);
    return usersCopyFolder;
}

std::string RecordingRelocationSystem::resolvingSymlinks(const std::string& path) {
    const auto link = links.find(path);
    return link == links.end() ? path : link->second;
}

std::optional<FileSystemInfo> RecordingRelocationSystem::fileSystemOf(const std::string& folder) {
    calls.push_back("statfs " + folder);
    return fileSystem;
}

std::optional<std::string>
RecordingRelocationSystem::runToolCapturingOutput(const std::string& tool,
                                                  const std::vector<std::string>& arguments) {
    std::string call = "tool " + tool;
    for (const std::string& argument : arguments) {
        call += " " + argument;
    }
    calls.push_back(call);
    return hdiutilOutput;
}

std::optional<PropertyList>
RecordingRelocationSystem::parsePropertyList(const std::string& data, PropertyListReader reader) {
    readers.push_back(reader);
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &root);
    if (!root) {
        return std::nullopt;
    }
    return PropertyList(root);
}

bool RecordingRelocationSystem::isSameItem(const std::string& first, const std::string& second) {
    return second == bundle && sameAsBundle.contains(first);
}

std::optional<std::string> RecordingRelocationSystem::copyItem(const std::string& from,
                                                               const std::string& to) {
    calls.push_back("copy " + from + " -> " + to);
    return copyError;
}

bool RecordingRelocationSystem::trashWithFileManager(const std::string& path) {
    calls.push_back("file manager trash " + path);
    return fileManagerTrashes;
}

bool RecordingRelocationSystem::recycleWithWorkspace(const std::string& folder,
                                                     const std::string& name) {
    calls.push_back("workspace recycle " + folder + " | " + name);
    return workspaceRecycles;
}

std::optional<std::string> RecordingRelocationSystem::runAppleScript(const std::string& source) {
    calls.push_back("applescript");
    appleScripts.push_back(source);
    return appleScriptError;
}

std::vector<std::string> RecordingRelocationSystem::runningApplicationBundlePaths() {
    calls.push_back("running applications");
    return runningBundles;
}

int RecordingRelocationSystem::authorizationCreate() {
    calls.push_back("authorization create");
    return createStatus;
}

int RecordingRelocationSystem::authorizationCopyRights(const std::string& right, unsigned flags) {
    calls.push_back("copy rights " + right + " " + std::to_string(flags));
    return copyRightsStatus;
}

void RecordingRelocationSystem::authorizationFree() {
    calls.push_back("authorization free");
    ++frees;
}

bool RecordingRelocationSystem::lookUpExecuteWithPrivileges() {
    ++lookups;
    return executeWithPrivilegesThere;
}

int RecordingRelocationSystem::executeWithPrivileges(const std::string& tool,
                                                     const std::vector<std::string>& arguments) {
    std::vector<std::string> run{tool};
    run.insert(run.end(), arguments.begin(), arguments.end());
    privilegedRuns.push_back(run);
    calls.push_back("privileged " + tool);
    if (executeStatuses.empty()) {
        return 0;
    }
    const int status = executeStatuses.front();
    executeStatuses.erase(executeStatuses.begin());
    return status;
}

int RecordingRelocationSystem::waitForChild() {
    calls.push_back("wait");
    if (waitStatuses.empty()) {
        return exitedWith(0);
    }
    const int status = waitStatuses.front();
    waitStatuses.erase(waitStatuses.begin());
    return status;
}

void RecordingRelocationSystem::startShellScript(const std::string& script) {
    calls.push_back("start script");
    startedScripts.push_back(script);
}

int RecordingRelocationSystem::runShellScript(const std::string& script) {
    calls.push_back("run script");
    ranScripts.push_back(script);
    return shellStatus;
}

std::string RecordingRelocationSystem::openCommand(const std::string& path) {
    return "/usr/bin/open " + shellQuote(path);
}

std::optional<std::string>
RecordingRelocationSystem::quarantineRemoval(const std::string& quotedPath, bool recursive) {
    if (!quarantines) {
        return std::nullopt;
    }
    return quarantineCommand(quotedPath, recursive);
}

void RecordingRelocationSystem::openApplicationAndWait(const std::string& path) {
    calls.push_back("open " + path);
}

int exitedWith(int code) {
    return (code & 0xFF) << 8;
}

int killedBy(int signal) {
    return signal & 0x7F;
}
