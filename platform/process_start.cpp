#include "platform/process_start.h"

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

struct SpawnAttributes {
    posix_spawnattr_t attributes{};
    bool ready = posix_spawnattr_init(&attributes) == 0;
    ~SpawnAttributes() {
        if (ready) {
            posix_spawnattr_destroy(&attributes);
        }
    }
};

} // namespace

std::optional<pid_t> startDetachedProcess(const std::string& executable,
                                          const std::vector<std::string>& arguments) {
    SpawnAttributes spawn;
    if (!spawn.ready || posix_spawnattr_setflags(&spawn.attributes, POSIX_SPAWN_SETSID) != 0) {
        return std::nullopt;
    }
    std::vector<std::string> words;
    words.reserve(arguments.size() + 1);
    words.push_back(executable);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawn(&child, executable.c_str(), nullptr, &spawn.attributes, argv.data(), environ) !=
        0) {
        return std::nullopt;
    }
    return child;
}

bool childIsRunning(pid_t child) {
    int status = 0;
    return waitpid(child, &status, WNOHANG) == 0;
}
