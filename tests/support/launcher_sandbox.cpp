#include "tests/support/launcher_sandbox.h"

#include <algorithm>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

LauncherSandbox::LauncherSandbox() {
    bundle = root / "it's a bundle folder" / "Launcher.app";
    fs::create_directories(bundle.parent_path());
    fs::copy(LAUNCHER_BUNDLE_DIR, bundle, fs::copy_options::recursive);
    fs::create_directories(root / "home");
    temporaryFolder = root / "tmp";
    fs::create_directories(temporaryFolder);
    dataFolder = root / "data" / "Test Company" / "Test App";
}

void LauncherSandbox::writeConfig(const std::string& endpoint, const std::string& launcherVersion,
                                  const PlistEntries& extra) const {
    PlistEntries entries = {{"latestVersionEndpoint", "<string>" + endpoint + "</string>"},
                            {"launcherVersion", "<string>" + launcherVersion + "</string>"},
                            {"companyFolderName", "<string>Test Company</string>"},
                            {"appFolderName", "<string>Test App</string>"},
                            {"appDisplayName", "<string>Drift Moor</string>"},
                            {"launcherImageWidth", "<integer>300</integer>"},
                            {"launcherImageHeight", "<integer>250</integer>"},
                            {"contentInstallerImageWidth", "<integer>430</integer>"},
                            {"contentInstallerImageHeight", "<integer>389</integer>"},
                            {"contentInstallerFontFileName", "<string>DejaVuSans.ttf</string>"},
                            {"launcherFontFileName", "<string>DejaVuSans.ttf</string>"},
                            {"launcherFontPointSizeOrIndex", "<integer>16</integer>"},
                            {"contentInstallerFontPointSizeOrIndex", "<integer>25</integer>"}};
    for (const auto& entry : extra) {
        const auto same = std::find_if(entries.begin(), entries.end(),
                                       [&](const auto& e) { return e.first == entry.first; });
        if (same != entries.end()) {
            same->second = entry.second;
        } else {
            entries.push_back(entry);
        }
    }
    writeXmlPlist((bundle / "Contents" / "Resources" / "config.plist").string(), entries);
}

std::string LauncherSandbox::launcherExecutable() const {
    return (bundle / "Contents" / "MacOS" / "launcher").string();
}

ChildResult LauncherSandbox::run(const std::vector<std::string>& arguments,
                                 const std::map<std::string, std::string>& extraEnvironment) const {
    std::map<std::string, std::string> environment = {{"HOME", (root / "home").string()},
                                                      {"XDG_DATA_HOME", (root / "data").string()},
                                                      {"TMPDIR", temporaryFolder.string() + "/"}};
    for (const auto& [name, value] : extraEnvironment) {
        environment[name] = value;
    }
    return runChild(launcherExecutable(), arguments, environment, std::chrono::seconds(120));
}

std::string LauncherSandbox::logText() const {
    return readFile(dataFolder / "out.log");
}

std::vector<std::string> logMessagesOf(const std::string& logText) {
    static const std::regex stamp(R"(^\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}:)");
    std::vector<std::string> messages;
    std::istringstream lines(logText);
    for (std::string line; std::getline(lines, line);) {
        messages.push_back(std::regex_replace(line, stamp, ""));
    }
    return messages;
}

std::vector<std::string> LauncherSandbox::logMessages() const {
    return logMessagesOf(logText());
}

bool LauncherSandbox::logHas(const std::string& message) const {
    const auto messages = logMessages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

bool LauncherSandbox::logMentions(const std::string& text) const {
    return logText().find(text) != std::string::npos;
}
