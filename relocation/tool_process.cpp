#include "relocation/tool_process.h"

#include "platform/process_start.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Pipe {
    int ends[2] = {-1, -1};
    bool ready = pipe2(ends, O_CLOEXEC) == 0;
    ~Pipe() {
        closeEnd(0);
        closeEnd(1);
    }
    void closeEnd(int which) {
        if (ends[which] >= 0) {
            close(ends[which]);
            ends[which] = -1;
        }
    }
};

} // namespace

std::optional<pid_t> startTool(const std::string& tool, const std::vector<std::string>& arguments,
                               int outputFd) {
    return spawnProcess(tool, arguments, outputFd, false);
}

int waitForTool(pid_t child) {
    int status = 0;
    pid_t ended = -1;
    do {
        ended = waitpid(child, &status, 0);
    } while (ended == -1 && errno == EINTR);
    return ended == child ? status : -1;
}

std::optional<std::string> runToolForOutput(const std::string& tool,
                                            const std::vector<std::string>& arguments) {
    Pipe output;
    if (!output.ready) {
        return std::nullopt;
    }
    const auto child = startTool(tool, arguments, output.ends[1]);
    output.closeEnd(1);
    if (!child) {
        return std::nullopt;
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(output.ends[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    waitForTool(*child);
    return text;
}

int runToolAndWait(const std::string& tool, const std::vector<std::string>& arguments) {
    const auto child = startTool(tool, arguments);
    if (!child) {
        return -1;
    }
    const int status = waitForTool(*child);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
