#pragma once
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Starts tool (by path, no PATH search) with arguments, its standard output going to
// outputFd when that is not -1. None when the system refuses the start.
std::optional<pid_t> startTool(const std::string& tool, const std::vector<std::string>& arguments,
                               int outputFd = -1);

// Waits for a started child: its wait status, or -1.
int waitForTool(pid_t child);

// Runs tool to its end and returns everything it wrote to standard output, read while it runs
// so that a large output cannot stall it; none when it could not be started.
std::optional<std::string> runToolForOutput(const std::string& tool,
                                            const std::vector<std::string>& arguments);

// Runs tool to its end: its exit code, or -1 when it did not start or ended by a signal.
int runToolAndWait(const std::string& tool, const std::vector<std::string>& arguments);
