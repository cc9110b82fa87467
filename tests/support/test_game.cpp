// A stand-in game for the tests: records its process id and arguments beside its own executable
// (<executable>.pid), then stays alive for a while so that tests can see it running.
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    // What it inherited may be a test runner's pipe, which must not stay open for a minute.
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
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
