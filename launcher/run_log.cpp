#include "launcher/run_log.h"

#include "platform/main_bundle.h"
#include "platform/process_start.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string logFilePath;
FILE* logStream = nullptr;
// Entries from the worker threads and the main thread must never interleave.
std::mutex logMutex;

// What standard output was before the log took it over, kept for the programs the launcher
// starts: a game's own output never lands in the run log. Where there was none, they get
// /dev/null.
void keepOriginalStandardOutput() {
    static bool kept = false;
    if (kept) {
        return; // a later set-up would keep the log itself
    }
    kept = true;
    int original = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (original < 0) {
        original = open("/dev/null", O_WRONLY | O_CLOEXEC);
    }
    setStandardOutputForStartedPrograms(original);
}

} // namespace

std::string asctimeText(const std::tm& local) {
    static constexpr const char* weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* weekday = local.tm_wday >= 0 && local.tm_wday < 7 ? weekdays[local.tm_wday] : "???";
    const char* month = local.tm_mon >= 0 && local.tm_mon < 12 ? months[local.tm_mon] : "???";
    char text[64];
    std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", weekday, month,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 1900 + local.tm_year);
    return text;
}

void setupLogFile(const std::string& folder) {
    std::lock_guard lock(logMutex);
    keepOriginalStandardOutput();
    logFilePath = folder + "/out.log";
    struct stat status {};
    const bool startOver =
        stat(logFilePath.c_str(), &status) == 0 && status.st_size >= logRestartBytes;
    logStream = std::freopen(logFilePath.c_str(), startOver ? "w" : "a", stdout);
    const std::string header = "\n\n[" + executablePath() + " setup for logging]\n";
    std::fputs(header.c_str(), stdout);
    std::fflush(stdout);
}

void writeToLog(const std::string& message) {
    std::lock_guard lock(logMutex);
    if (logStream == nullptr) {
        std::fputs("You must call setupLogFile before any calls to writeToLog!\n", stderr);
        std::fflush(stderr);
        std::exit(1);
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string entry = asctimeText(local) + ":" + message + "\n";
    std::fwrite(entry.data(), 1, entry.size(), stdout);
    std::fflush(stdout);
}
