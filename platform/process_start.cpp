#include "platform/process_start.h"

#include <atomic>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Set on the main thread before any thread that starts programs; read by those threads.
std::atomic<int> startedProgramsOutput{-1};

// One of posix_spawn's objects: initialised with init, destroyed with destroy when it goes;
// ready tells whether init worked.
template <typename T, int (*init)(T*), int (*destroy)(T*)> struct SpawnObject {
    T value{};
    bool ready = init(&value) == 0;
    SpawnObject() = default;
    SpawnObject(const SpawnObject&) = delete;
    SpawnObject& operator=(const SpawnObject&) = delete;
    ~SpawnObject() {
        if (ready) {
            destroy(&value);
        }
    }
};
using SpawnFileActions = SpawnObject<posix_spawn_file_actions_t, posix_spawn_file_actions_init,
                                     posix_spawn_file_actions_destroy>;
using SpawnAttributes =
    SpawnObject<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

} // namespace

std::optional<pid_t> spawnProcess(const std::string& executable,
                                  const std::vector<std::string>& arguments, int outputFd,
                                  bool newSession) {
    SpawnAttributes spawn;
    if (!spawn.ready ||
        (newSession && posix_spawnattr_setflags(&spawn.value, POSIX_SPAWN_SETSID) != 0)) {
        return std::nullopt;
    }
    std::vector<std::string> words{executable};
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
    if (outputFd >= 0 && posix_spawn_file_actions_adddup2(&files.value, outputFd, 1) != 0) {
        return std::nullopt;
    }
    // Only the standard descriptors reach the program, whatever the launcher holds open without
    // close-on-exec: libcurl's connection, the window's font and animation, the display's socket.
    if (posix_spawn_file_actions_addclosefrom_np(&files.value, 3) != 0) {
        return std::nullopt;
    }

    pid_t child = 0;
    if (posix_spawn(&child, executable.c_str(), &files.value, &spawn.value, argv.data(), environ) !=
        0) {
        return std::nullopt;
    }
    return child;
}

std::optional<pid_t> startDetachedProcess(const std::string& executable,
                                          const std::vector<std::string>& arguments) {
    return spawnProcess(executable, arguments, startedProgramsOutput.load(), true);
}

void setStandardOutputForStartedPrograms(int fd) {
    startedProgramsOutput.store(fd);
}

bool childIsRunning(pid_t child) {
    int status = 0;
    return waitpid(child, &status, WNOHANG) == 0;
}
