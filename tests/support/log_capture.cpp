#include "tests/support/log_capture.h"

#include "launcher/run_log.h"
#include "tests/support/temp_folder.h"

#include <cstdio>
#include <unistd.h>

LogCapture::LogCapture(const std::string& folder) : logPath(folder + "/out.log") {
    std::fflush(stdout);
    savedStandardOutput = dup(STDOUT_FILENO);
    setupLogFile(folder);
}

LogCapture::~LogCapture() {
    std::fflush(stdout);
    if (savedStandardOutput >= 0) {
        dup2(savedStandardOutput, STDOUT_FILENO);
        close(savedStandardOutput);
    }
}

std::string LogCapture::contents() const {
    std::fflush(stdout);
    return readFile(logPath);
}
