#include "tests/support/child_process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& changes) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value.empty()) {
            merged.erase(name);
        } else {
            merged[name] = value;
        }
    }
    std::vector<std::string> list;
    for (const auto& [name, value] : merged) {
        list.push_back(name + "=" + value);
    }
    return list;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> list;
    for (auto& word : words) {
        list.push_back(word.data());
    }
    list.push_back(nullptr);
    return list;
}

// A started child whose standard output and error arrive through the pipes out and err.
struct StartedChild {
    pid_t pid = 0;
    int out = -1;
    int err = -1;
};

StartedChild startChild(const std::string& program, const std::vector<std::string>& arguments,
                        const std::map<std::string, std::string>& environment,
                        const std::string& workingFolder) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<std::string> env = mergedEnvironment(environment);
    auto argv = pointers(words);
    auto envp = pointers(env);
    StartedChild child{0, out[0], err[0]};
    const int spawned =
        posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        throw std::runtime_error("cannot start " + program);
    }
    return child;
}

// Reads both pipes until the child's end of them closes or the time runs out; a child still
// running then is killed. A game the launcher starts inherits the pipes, so reading stops once
// the child itself has ended.
ChildResult collect(const StartedChild& child, std::chrono::seconds limit) {
    ChildResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool ended = false;
    int status = 0;
    pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
    while (true) {
        rusage usage{};
        if (!ended && wait4(child.pid, &status, WNOHANG, &usage) == child.pid) {
            ended = true;
            result.peakResidentKiB = usage.ru_maxrss;
        }
        const int ready = poll(fds, 2, ended ? 0 : 50);
        bool gotData = false;
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                char chunk[4096];
                const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
                if (n > 0) {
                    (i == 0 ? result.standardOutput : result.standardError).append(chunk, n);
                    gotData = true;
                } else {
                    fds[i].fd = -fds[i].fd - 1; // closed: stop polling it
                }
            }
        }
        if (ended && !gotData) {
            break;
        }
        if (!ended && std::chrono::steady_clock::now() > deadline) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            result.exitStatus = -1;
            return result;
        }
    }
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace

ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment,
                     std::chrono::seconds limit, const std::string& workingFolder) {
    const StartedChild child = startChild(program, arguments, environment, workingFolder);
    const ChildResult result = collect(child, limit);
    close(child.out);
    close(child.err);
    return result;
}

bool processIsAlive(int pid) {
    if (pid <= 0 || kill(pid, 0) != 0) {
        return false;
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

void killAndForget(int pid) {
    if (pid <= 0) {
        return;
    }
    kill(pid, SIGKILL);
    for (int i = 0; i < 100 && processIsAlive(pid); ++i) {
        waitpid(pid, nullptr, WNOHANG); // reaps it when it is this test's own child
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    waitpid(pid, nullptr, WNOHANG);
}
