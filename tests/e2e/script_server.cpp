#include "tests/e2e/script_server.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* python = "/usr/bin/python3";

// The first line the script writes, waited for at most 30 s.
std::string firstLine(int fd) {
    std::string line;
    char byte = 0;
    while (line.size() < 64) {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, 30000) <= 0 || read(fd, &byte, 1) != 1 || byte == '\n') {
            break;
        }
        line += byte;
    }
    return line;
}

} // namespace

ScriptServer::ScriptServer(const std::string& scriptName,
                           const std::vector<std::string>& arguments) {
    std::vector<std::string> words{python, LAUNCHER_SOURCE_DIR "/tests/e2e/" + scriptName};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe for " + scriptName);
    }
    pid = fork();
    if (pid == 0) {
        // The server ends with the test process, even when that is killed at its time limit.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, 0);
        dup2(output[1], 1);
        dup2(quiet, 2);
        execv(python, argv.data());
        _exit(127);
    }
    close(output[1]);
    const std::string port = firstLine(output[0]);
    close(output[0]);
    if (pid < 0 || port.empty() || port.find_first_not_of("0123456789") != std::string::npos) {
        stop();
        throw std::runtime_error(scriptName + " did not start");
    }
    listenPort = std::stoi(port);
}

ScriptServer::~ScriptServer() {
    stop();
}

void ScriptServer::stop() {
    if (pid <= 0) {
        return;
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string ScriptServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(listenPort) + path;
}
