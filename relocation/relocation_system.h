#pragma once
#include "platform/property_list.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// What statfs tells about the file system that holds a folder.
struct FileSystemInfo {
    bool isRootFileSystem = false;
    std::string mountSource; // f_mntfromname: the device the file system was mounted from
};

// The two property-list readers; AppKit up to 949 only has the older one.
enum class PropertyListReader { Legacy, Modern };

// Authorization Services status for a cancelled administrator prompt.
inline constexpr int errAuthorizationCanceled = -60006;

// Every operating-system operation the move into the Applications folder needs. The launcher
// uses the Linux implementation; tests drive every decision with a recording stand-in.
class RelocationSystem {
  public:
    virtual ~RelocationSystem() = default;

    virtual bool isMainThread() = 0;
    virtual void scheduleOnMainThread(std::function<void()> call) = 0;

    virtual std::string bundlePath() = 0;
    // The Applications folders of every domain, and of the system-wide (local) domain only.
    virtual std::vector<std::string> allApplicationsFolders() = 0;
    virtual std::vector<std::string> localApplicationsFolders() = 0;
    // The folder that holds the user's own copy of the application bundleName names, when a
    // move must replace that copy rather than put one into the local Applications folder; none
    // when the user has no such copy (and always on the Mac).
    virtual std::optional<std::string> folderOfUsersCopy(const std::string& bundleName) = 0;
    virtual std::string resolvingSymlinks(const std::string& path) = 0;

    // statfs on folder; none when the call fails.
    virtual std::optional<FileSystemInfo> fileSystemOf(const std::string& folder) = 0;
    // Runs tool with arguments, waits, and returns its whole standard output; none when it
    // could not be started.
    virtual std::optional<std::string>
    runToolCapturingOutput(const std::string& tool, const std::vector<std::string>& arguments) = 0;
    virtual std::optional<PropertyList> parsePropertyList(const std::string& data,
                                                          PropertyListReader reader) = 0;

    virtual bool isWritable(const std::string& path) = 0;
    virtual bool fileExists(const std::string& path) = 0;
    // Whether both paths name the same file once links are followed.
    virtual bool isSameItem(const std::string& first, const std::string& second) = 0;
    // The item copy; an error description on failure.
    virtual std::optional<std::string> copyItem(const std::string& from, const std::string& to) = 0;

    virtual bool trashWithFileManager(const std::string& path) = 0;
    virtual bool recycleWithWorkspace(const std::string& folder, const std::string& name) = 0;
    // Runs an AppleScript; none on success, else its error dictionary as text.
    virtual std::optional<std::string> runAppleScript(const std::string& source) = 0;

    virtual std::vector<std::string> runningApplicationBundlePaths() = 0;

    virtual bool isActiveApplication() = 0;
    virtual void activateIgnoringOtherApps() = 0;

    // Authorization Services, as statuses (0 is success).
    virtual int authorizationCreate() = 0;
    virtual int authorizationCopyRights(const std::string& right, unsigned flags) = 0;
    virtual void authorizationFree() = 0;
    // Looks up the privileged runner by name; false when it is not there.
    virtual bool lookUpExecuteWithPrivileges() = 0;
    virtual int executeWithPrivileges(const std::string& tool,
                                      const std::vector<std::string>& arguments) = 0;
    // -1, or the wait status of the privileged child.
    virtual int waitForChild() = 0;

    // Shell scripts run with the system shell's "-c"; the first is not waited for, the second
    // returns the shell's exit status.
    virtual void startShellScript(const std::string& script) = 0;
    virtual int runShellScript(const std::string& script) = 0;
    // How a shell script starts the application at path (quoted inside).
    virtual std::string openCommand(const std::string& path) = 0;
    // How a shell script strips the download quarantine from the copy at quotedPath (all of it
    // when recursive); none where downloads carry no quarantine.
    virtual std::optional<std::string> quarantineRemoval(const std::string& quotedPath,
                                                         bool recursive) = 0;
    // Opens an application that is already running and waits for the opener.
    virtual void openApplicationAndWait(const std::string& path) = 0;

    virtual int processIdentifier() = 0;
    virtual double appKitVersionNumber() = 0;
    virtual bool systemIsAtLeast10_8() = 0;

    virtual void log(const std::string& message) = 0;
    // Ends the process; a stand-in records the call and returns.
    virtual void exitProcess(int status) = 0;
};
