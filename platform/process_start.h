#pragma once
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Starts executable with arguments (without the program name) in a session of its own, so
// that it outlives the launcher and its terminal. Environment, working folder, standard input
// and standard error are inherited; standard output too, unless one was set below. No other
// descriptor is. None when the system refuses the start.
std::optional<pid_t> startDetachedProcess(const std::string& executable,
                                          const std::vector<std::string>& arguments);

// Starts executable with arguments (without the program name), without waiting: in a session
// of its own when newSession, with standard output on outputFd (a duplicate of it) when that is
// not negative. Everything else is inherited. None when the system refuses the start.
std::optional<pid_t> spawnProcess(const std::string& executable,
                                  const std::vector<std::string>& arguments, int outputFd,
                                  bool newSession);

// Whether a child started above has not ended yet; an ended child is reaped.
bool childIsRunning(pid_t child);

// From now on the programs started above get fd (a duplicate of it) as their standard output
// instead of this process's own; -1 goes back to inheriting. The caller keeps fd open.
void setStandardOutputForStartedPrograms(int fd);
