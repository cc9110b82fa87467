#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/plist_files.h"
#include "tests/support/temp_folder.h"

// The messages of a run log's text without their time stamps; continuation lines as they stand.
std::vector<std::string> logMessagesOf(const std::string& logText);

// The built launcher bundle copied into a folder of its own (whose name holds a blank and a
// quote), run as a child process with its own HOME, XDG_DATA_HOME and TMPDIR, so that nothing it
// does reaches the real user's folders.
struct LauncherSandbox {
    LauncherSandbox();

    // Writes the bundle's config.plist: the endpoint, launcherVersion, "Test Company" /
    // "Test App" / "Drift Moor", then any extra entries.
    void writeConfig(const std::string& endpoint, const std::string& launcherVersion,
                     const PlistEntries& extra = {}) const;

    ChildResult run(const std::vector<std::string>& arguments = {},
                    const std::map<std::string, std::string>& extraEnvironment = {}) const;

    std::string launcherExecutable() const;
    std::string logText() const;
    // The log's messages without their time stamps; continuation lines as they stand.
    std::vector<std::string> logMessages() const;
    bool logHas(const std::string& message) const;
    bool logMentions(const std::string& text) const;

    TempFolder root{LAUNCHER_BINARY_DIR};
    std::filesystem::path bundle;
    std::filesystem::path dataFolder;
    std::filesystem::path temporaryFolder;
};
