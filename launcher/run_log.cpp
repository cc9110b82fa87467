#include "launcher/run_log.h"

#include "platform/main_bundle.h"
#include "platform/process_start.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

std::string logFilePath;
FILE* logStream = nullptr;
// Entries from the worker threads and the main thread must never interleave.
std::mutex logMutex;
bool standardErrorWithoutLog = false;

// Whatever stands at the log's place and is not a plain file (a link, a folder, a pipe) goes, so
// that the log is never written through a link or into a folder; it would otherwise lock every
// later run out. Returns the size of the plain file that stays, or -1 when there is none.
long long clearLogPlace(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return -1;
    }
    if (S_ISREG(status.st_mode)) {
        return status.st_size;
    }
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored); // removes a link itself, never its target
    return -1;
}

// Opens the log for writing without following a link, and without waiting on a pipe that was
// put there meanwhile. A log that cannot be opened as it is (a read-only file) is replaced.
int openLogFile(const std::string& path, bool startOver) {
    const int flags =
        O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (startOver ? O_TRUNC : O_APPEND);
    int fd = open(path.c_str(), flags, 0644);
    if (fd < 0 && (errno == EACCES || errno == EPERM) && unlink(path.c_str()) == 0) {
        fd = open(path.c_str(), flags | O_EXCL, 0644);
    }
    struct stat status {};
    if (fd >= 0 && (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        close(fd);
        return -1;
    }
    if (fd >= 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return fd;
}

// Points standard output at fd, as freopen would, keeping the stream itself.
bool redirectStandardOutput(int fd) {
    std::fflush(stdout);
    if (fd == STDOUT_FILENO) {
        return fcntl(fd, F_SETFD, 0) == 0;
    }
    const bool moved = dup2(fd, STDOUT_FILENO) == STDOUT_FILENO;
    close(fd);
    std::clearerr(stdout);
    return moved;
}

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

bool setupLogFile(const std::string& folder) {
    std::lock_guard lock(logMutex);
    keepOriginalStandardOutput();
    logFilePath = folder + "/out.log";
    const long long size = clearLogPlace(logFilePath);
    const int fd = openLogFile(logFilePath, size >= logRestartBytes);
    logStream = fd >= 0 && redirectStandardOutput(fd) ? stdout : nullptr;
    if (logStream == nullptr) {
        return false;
    }
    const std::string header = "\n\n[" + executablePath() + " setup for logging]\n";
    std::fputs(header.c_str(), stdout);
    std::fflush(stdout);
    return true;
}

void useStandardErrorWithoutLog() {
    std::lock_guard lock(logMutex);
    standardErrorWithoutLog = true;
}

void writeToLog(const std::string& message) {
    std::lock_guard lock(logMutex);
    FILE* const out = logStream != nullptr ? stdout : standardErrorWithoutLog ? stderr : nullptr;
    if (out == nullptr) {
        std::fputs("You must call setupLogFile before any calls to writeToLog!\n", stderr);
        std::fflush(stderr);
        std::exit(1);
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string entry = asctimeText(local) + ":" + message + "\n";
    std::fwrite(entry.data(), 1, entry.size(), out);
    std::fflush(out);
}
