#include "platform/running_executable.h"

#include "platform/running_applications.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A file by device and inode: two paths (hard links, links to it) of one file are equal.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> identityOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return FileIdentity{status.st_dev, status.st_ino};
}

bool isScript(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char start[2] = {};
    return file.read(start, 2) && start[0] == '#' && start[1] == '!';
}

// The process list covers every user of the machine; another user's game is not this player's.
bool belongsToThisUser(const std::string& processFolder) {
    struct stat status {};
    return stat(processFolder.c_str(), &status) == 0 && status.st_uid == geteuid();
}

std::vector<std::string> commandLine(const std::string& processFolder) {
    std::ifstream file(processFolder + "/cmdline", std::ios::binary);
    std::vector<std::string> words;
    for (std::string word; std::getline(file, word, '\0');) {
        words.push_back(word);
    }
    return words;
}

// The script an interpreter runs is its first argument that is no option: "/bin/sh script",
// "/bin/bash -e script", or what env starts for "#!/usr/bin/env python3". A relative path is
// resolved in the process's working folder.
std::optional<FileIdentity> interpretedScript(const std::string& processFolder) {
    const std::vector<std::string> words = commandLine(processFolder);
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.empty() || word.front() == '-') {
            continue;
        }
        return identityOf(word.front() == '/' ? word : processFolder + "/cwd/" + word);
    }
    return std::nullopt;
}

} // namespace

std::optional<pid_t> processRunningExecutable(const std::string& executable) {
    const auto wanted = identityOf(executable);
    if (!wanted) {
        return std::nullopt;
    }
    std::error_code error;
    const std::string wantedPath = fs::canonical(executable, error).string();
    const bool script = isScript(executable);
    for (const RunningApplication& application : runningApplications()) {
        const pid_t pid = application.processIdentifier;
        const std::string folder = "/proc/" + std::to_string(pid);
        if (pid == getpid() || !belongsToThisUser(folder)) {
            continue;
        }
        // The path names a replaced executable too; the identity holds where the path was
        // reached some other way.
        const bool runsIt = application.executablePath == wantedPath ||
                            identityOf(folder + "/exe") == wanted ||
                            (script && interpretedScript(folder) == wanted);
        if (runsIt) {
            return pid;
        }
    }
    return std::nullopt;
}
