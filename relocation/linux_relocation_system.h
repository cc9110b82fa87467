#pragma once
#include "relocation/relocation_system.h"

#include <sys/types.h>

// The relocation's operations on Linux: ~/Applications and /opt for the Applications folders,
// statfs and /proc/self/mountinfo for the volume, pkexec for the administrator prompt, the
// freedesktop.org trash, and the copy's own executable in place of the "open" tool.
class LinuxRelocationSystem final : public RelocationSystem {
  public:
    bool isMainThread() override;
    void scheduleOnMainThread(std::function<void()> call) override;
    std::string bundlePath() override;
    std::vector<std::string> allApplicationsFolders() override;
    std::vector<std::string> localApplicationsFolders() override;
    std::string resolvingSymlinks(const std::string& path) override;
    std::optional<FileSystemInfo> fileSystemOf(const std::string& folder) override;
    std::optional<std::string>
    runToolCapturingOutput(const std::string& tool,
                           const std::vector<std::string>& arguments) override;
    std::optional<PropertyList> parsePropertyList(const std::string& data,
                                                  PropertyListReader reader) override;
    bool isWritable(const std::string& path) override;
    bool fileExists(const std::string& path) override;
    bool isSameItem(const std::string& first, const std::string& second) override;
    std::optional<std::string> copyItem(const std::string& from, const std::string& to) override;
    bool trashWithFileManager(const std::string& path) override;
    bool recycleWithWorkspace(const std::string& folder, const std::string& name) override;
    std::optional<std::string> runAppleScript(const std::string& source) override;
    std::vector<std::string> runningApplicationBundlePaths() override;
    bool isActiveApplication() override;
    void activateIgnoringOtherApps() override;
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
    void openApplicationAndWait(const std::string& path) override;
    int processIdentifier() override;
    double appKitVersionNumber() override;
    bool systemIsAtLeast10_8() override;
    void log(const std::string& message) override;
    void exitProcess(int status) override;

  private:
    pid_t privilegedChild = -1;
};

// The one instance the launcher uses.
RelocationSystem& linuxRelocationSystem();

// Linux has no main-thread event queue; calls scheduled from other threads wait here until the
// main thread runs them.
void runScheduledMainThreadCalls();

// Where pkexec is looked for; it is run by this path only.
inline constexpr const char* pkexecPath = "/usr/bin/pkexec";
