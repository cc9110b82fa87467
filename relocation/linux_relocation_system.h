#pragma once
#include "relocation/relocation_system.h"

#include <sys/types.h>

// The relocation's operations on Linux: ~/Applications and /opt for the Applications folders
// (the copy goes to /opt unless the user has one in ~/Applications),
// statfs and /proc/self/mountinfo for the volume, pkexec for the administrator prompt, the
// freedesktop.org trash, and the copy's own executable in place of the "open" tool.
class LinuxRelocationSystem final : public RelocationSystem {
  public:
    // Threads and the bundle.
    bool isMainThread() override;
    void scheduleOnMainThread(std::function<void()> call) override;
    std::string bundlePath() override;

    // Folders, volumes and files.
    std::vector<std::string> allApplicationsFolders() override;
    std::vector<std::string> localApplicationsFolders() override;
    std::optional<std::string> folderOfUsersCopy(const std::string& bundleName) override;
    std::string resolvingSymlinks(const std::string& path) override;
    std::optional<FileSystemInfo> fileSystemOf(const std::string& folder) override;
    bool isWritable(const std::string& path) override;
    bool fileExists(const std::string& path) override;
    bool isSameItem(const std::string& first, const std::string& second) override;
    std::optional<std::string> copyItem(const std::string& from, const std::string& to) override;

    // Tools, scripts and property lists. The scripts run under bash, whose ">&/dev/null"
    // Debian's /bin/sh (dash) rejects.
    std::optional<std::string>
    runToolCapturingOutput(const std::string& tool,
                           const std::vector<std::string>& arguments) override;
    void startShellScript(const std::string& script) override;
    int runShellScript(const std::string& script) override;
    std::string openCommand(const std::string& path) override;
    // Nothing here marks downloads with a quarantine, and there is no xattr tool to clear one.
    std::optional<std::string> quarantineRemoval(const std::string&, bool) override {
        return std::nullopt;
    }
    std::optional<PropertyList> parsePropertyList(const std::string& data,
                                                  PropertyListReader reader) override;

    // The freedesktop.org trash stands in for all three of the Mac's ways to trash.
    bool trashWithFileManager(const std::string& path) override;
    bool recycleWithWorkspace(const std::string&, const std::string&) override { return false; }
    std::optional<std::string> runAppleScript(const std::string& source) override;

    // pkexec in place of Authorization Services: there is nothing to create or free.
    int authorizationCreate() override { return 0; }
    int authorizationCopyRights(const std::string& right, unsigned flags) override;
    void authorizationFree() override {}
    bool lookUpExecuteWithPrivileges() override;
    int executeWithPrivileges(const std::string& tool,
                              const std::vector<std::string>& arguments) override;
    int waitForChild() override;

    // The process. The launcher has no window at this point, so there is nothing to bring to the
    // front. A running copy cannot be brought to the front from here either, and starting a
    // second one would run two launchers on one data folder: the running copy carries on alone.
    // A bundle of this one's name that started this process (a self-update's old launcher,
    // which ends right after) is given a while to end before the list is taken.
    std::vector<std::string> runningApplicationBundlePaths() override;
    bool isActiveApplication() override { return true; }
    void activateIgnoringOtherApps() override {}
    void openApplicationAndWait(const std::string&) override {}
    int processIdentifier() override;
    double appKitVersionNumber() override;
    bool systemIsAtLeast10_8() override { return true; }
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
