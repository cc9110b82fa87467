// A stand-in game for the tests: records its process id and arguments beside its own executable
// (<executable>.pid), and the descriptors it was started with (<executable>.fds, written first),
// then stays alive for a while so that tests can see it running.
#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// What was open when the program began, before it opens anything itself.
std::vector<int> inheritedDescriptors() {
    std::vector<int> descriptors;
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) {
        return descriptors;
    }
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && std::stoi(name) != dirfd(folder)) {
            descriptors.push_back(std::stoi(name));
        }
    }
    closedir(folder);
    std::sort(descriptors.begin(), descriptors.end());
    return descriptors;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<int> inherited = inheritedDescriptors();
    // What it inherited may be a test runner's pipe, which must not stay open for a minute.
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    {
        std::ofstream descriptors(self + ".fds");
        for (const int descriptor : inherited) {
            descriptors << descriptor << "\n";
        }
    }
    {
        std::ofstream record(self + ".pid.partial");
        record << getpid() << "\n";
        for (int i = 1; i < argc; ++i) {
            record << argv[i] << "\n";
        }
    }
    std::filesystem::rename(self + ".pid.partial", self + ".pid");
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}
