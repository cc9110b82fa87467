#include "platform/running_applications.h"

#include "platform/application_bundle.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool isProcessFolderName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// A process that has ended but not been reaped yet no longer runs.
bool isZombie(const fs::path& processFolder) {
    std::ifstream stat(processFolder / "stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

std::string commandName(const fs::path& processFolder) {
    std::ifstream comm(processFolder / "comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// The kernel marks a replaced executable with " (deleted)"; the path it names is still the one.
std::string liveExecutablePath(const fs::path& processFolder) {
    std::error_code error;
    std::string path = fs::read_symlink(processFolder / "exe", error).string();
    if (error) {
        return {};
    }
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted)) {
        path.resize(path.size() - deleted.size());
    }
    return path;
}

} // namespace

std::vector<RunningApplication> runningApplications() {
    std::vector<RunningApplication> applications;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (!isProcessFolderName(name) || isZombie(entry.path())) {
            continue;
        }
        RunningApplication application;
        application.processIdentifier = static_cast<pid_t>(std::stol(name));
        application.executablePath = liveExecutablePath(entry.path());
        application.bundlePath = bundleContainingExecutable(application.executablePath);
        application.localizedName = application.bundlePath.empty()
                                        ? commandName(entry.path())
                                        : bundleDisplayName(application.bundlePath);
        if (application.localizedName.empty() && application.executablePath.empty()) {
            continue; // ended while we looked
        }
        applications.push_back(std::move(application));
    }
    return applications;
}
