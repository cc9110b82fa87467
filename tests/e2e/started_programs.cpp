#include "tests/e2e/started_programs.h"

#include "tests/support/child_process.h"

#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

bool isNumber(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

bool liesInside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

template <typename Condition> bool within10Seconds(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

} // namespace

std::string executableOf(pid_t pid) {
    std::error_code error;
    std::string path = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string();
    const std::string deleted = " (deleted)"; // the uninstaller may have removed it meanwhile
    if (path.ends_with(deleted)) {
        path.resize(path.size() - deleted.size());
    }
    return path;
}

std::vector<pid_t> processesRunningFrom(const fs::path& folder) {
    const std::string inside = fs::weakly_canonical(folder).string();
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (!isNumber(name)) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (liesInside(executableOf(pid), inside) && processIsAlive(pid)) {
            found.push_back(pid);
        }
    }
    return found;
}

void StartedPrograms::stopAll() const {
    for (const pid_t pid : processesRunningFrom(folder)) {
        killAndForget(pid);
    }
}

std::vector<GameStart> readGameStarts(const fs::path& record) {
    std::vector<GameStart> starts;
    std::ifstream file(record);
    for (std::string line; std::getline(file, line);) {
        // "<name> <version> <pid>", where the name may hold blanks
        const auto pidAt = line.rfind(' ');
        const auto versionAt = pidAt == std::string::npos ? pidAt : line.rfind(' ', pidAt - 1);
        if (versionAt == std::string::npos || !isNumber(line.substr(pidAt + 1))) {
            continue;
        }
        starts.push_back({line.substr(0, versionAt),
                          line.substr(versionAt + 1, pidAt - versionAt - 1),
                          static_cast<pid_t>(std::stol(line.substr(pidAt + 1)))});
    }
    return starts;
}

std::vector<GameStart> waitForGameStarts(const fs::path& record, std::size_t count) {
    within10Seconds([&] { return readGameStarts(record).size() >= count; });
    return readGameStarts(record);
}

bool endsSoon(pid_t pid) {
    return within10Seconds([&] { return !processIsAlive(pid); });
}
