#include "uninstall/exit_page.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

void openExitPage(const std::string& url) {
    std::string opener = "xdg-open";
    std::string argument = url;
    std::vector<char*> argv{opener.data(), argument.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, opener.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return;
    }
    int status = 0;
    while (waitpid(child, &status, 0) == -1 && errno == EINTR) {
    }
}
