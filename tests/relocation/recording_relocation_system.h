#pragma once
#include "relocation/relocation_system.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

// A RelocationSystem that answers from its fields and writes down every call that changes
// something, so that tests can walk each decision without touching the machine.
struct RecordingRelocationSystem : RelocationSystem {
    // Answers.
    bool mainThread = true;
    std::string bundle = "/Volumes/Drift Moor/Launcher.app";
    std::vector<std::string> allFolders{"/Users/me/Applications", "/Applications",
                                        "/Network/Applications"};
    std::vector<std::string> localFolders{"/Applications"};
    std::optional<std::string> usersCopyFolder; // none, as on the Mac
    bool quarantines = true;
    std::map<std::string, std::string> links;
    std::optional<FileSystemInfo> fileSystem = FileSystemInfo{false, "/dev/disk4s1"};
    std::optional<std::string> hdiutilOutput;
    std::set<std::string> existing;
    std::set<std::string> unwritable;
    std::set<std::string> sameAsBundle;
    std::optional<std::string> copyError;
    bool fileManagerTrashes = false;
    bool workspaceRecycles = false;
    std::optional<std::string> appleScriptError;
    std::vector<std::string> runningBundles;
    bool active = false;
    int createStatus = 0;
    int copyRightsStatus = 0;
    bool executeWithPrivilegesThere = true;
    std::vector<int> executeStatuses; // one per privileged run, 0 when none left
    std::vector<int> waitStatuses;    // one per wait, exit code 0 when none left
    int shellStatus = 1;
    int pid = 4321;
    double appKit = 2299;
    bool atLeast10_8 = true;

    // Records.
    std::vector<std::string> calls;
    std::vector<std::string> logs;
    std::vector<std::string> startedScripts;
    std::vector<std::string> ranScripts;
    std::vector<std::string> appleScripts;
    std::vector<std::function<void()>> scheduled;
    std::vector<PropertyListReader> readers;
    std::vector<std::vector<std::string>> privilegedRuns;
    std::vector<int> exits;
    int lookups = 0;
    int frees = 0;

    bool called(const std::string& what) const;

    bool isMainThread() override { return mainThread; }
    void scheduleOnMainThread(std::function<void()> call) override;
    std::string bundlePath() override { return bundle; }
    std::vector<std::string> allApplicationsFolders() override { return allFolders; }
    std::vector<std::string> localApplicationsFolders() override { return localFolders; }
    std::optional<std::string> folderOfUsersCopy(const std::string& bundleName) override;
    std::string resolvingSymlinks(const std::string& path) override;
    std::optional<FileSystemInfo> fileSystemOf(const std::string& folder) override;
    std::optional<std::string>
    runToolCapturingOutput(const std::string& tool,
                           const std::vector<std::string>& arguments) override;
    std::optional<PropertyList> parsePropertyList(const std::string& data,
                                                  PropertyListReader reader) override;
    bool isWritable(const std::string& path) override { return !unwritable.contains(path); }
    bool fileExists(const std::string& path) override { return existing.contains(path); }
    bool isSameItem(const std::string& first, const std::string& second) override;
    std::optional<std::string> copyItem(const std::string& from, const std::string& to) override;
    bool trashWithFileManager(const std::string& path) override;
    bool recycleWithWorkspace(const std::string& folder, const std::string& name) override;
    std::optional<std::string> runAppleScript(const std::string& source) override;
    std::vector<std::string> runningApplicationBundlePaths() override;
    bool isActiveApplication() override { return active; }
    void activateIgnoringOtherApps() override { calls.push_back("activate"); }
    int authorizationCreate() override;
    int authorizationCopyRights(const std::string& right, unsigned flags) override;
    void authorizationFree() override;
    bool lookUpExecuteWithPrivileges() override;
    int executeWithPrivileges(const std::string& tool,
                              const std::vector<std::string>& arguments) override;
    int waitForChild() override;
    void startShellScript(const std::string& script) override;
    int runShellScript(const std::string& script) override;
    std::string openCommand(const std::string& path) override;
    std::optional<std::string> quarantineRemoval(const std::string& quotedPath,
                                                 bool recursive) override;
    void openApplicationAndWait(const std::string& path) override;
    int processIdentifier() override { return pid; }
    double appKitVersionNumber() override { return appKit; }
    bool systemIsAtLeast10_8() override { return atLeast10_8; }
    void log(const std::string& message) override { logs.push_back(message); }
    void exitProcess(int status) override { exits.push_back(status); }
};

// A wait status as wait() reports it for a normal end with code, or for a signal.
int exitedWith(int code);
int killedBy(int signal);
