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

} // namespace

ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment,
                     std::chrono::seconds limit, const std::string& workingFolder) {
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
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    ChildResult result;
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        throw std::runtime_error("cannot start " + program);
    }

    // Read both pipes until the child's end of them closes or the time runs out. A game the
    // launcher starts inherits the pipes, so stop reading once the launcher itself has ended.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool ended = false;
    int status = 0;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    while (true) {
        rusage usage{};
        if (!ended && wait4(child, &status, WNOHANG, &usage) == child) {
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
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            close(out[0]);
            close(err[0]);
            result.exitStatus = -1;
            return result;
        }
    }
    close(out[0]);
    close(err[0]);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
