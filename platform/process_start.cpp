#include "platform/process_start.h"

#include <atomic>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Set on the main thread before any thread that starts programs; read by those threads.
std::atomic<int> startedProgramsOutput{-1};

struct SpawnFileActions {
    posix_spawn_file_actions_t actions{};
    bool ready = posix_spawn_file_actions_init(&actions) == 0;
    ~SpawnFileActions() {
        if (ready) {
            posix_spawn_file_actions_destroy(&actions);
        }
    }
};

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

    SpawnFileActions files;
    if (!files.ready) {
        return std::nullopt;
    }
    const int output = startedProgramsOutput.load();
    if (output >= 0 && posix_spawn_file_actions_adddup2(&files.actions, output, 1) != 0) {
        return std::nullopt;
    }
    // Only the standard descriptors reach the program, whatever the launcher holds open without
    // close-on-exec: libcurl's connection, the window's font and animation, the display's socket.
    if (posix_spawn_file_actions_addclosefrom_np(&files.actions, 3) != 0) {
        return std::nullopt;
    }

    pid_t child = 0;
    if (posix_spawn(&child, executable.c_str(), &files.actions, &spawn.attributes, argv.data(),
                    environ) != 0) {
        return std::nullopt;
    }
    return child;
}

void setStandardOutputForStartedPrograms(int fd) {
    startedProgramsOutput.store(fd);
}

bool childIsRunning(pid_t child) {
    int status = 0;
    return waitpid(child, &status, WNOHANG) == 0;
}
