#pragma once
#include <optional>
#include <string>
#include <sys/types.h>

// A process of this user, other than this one, that runs the program file executable: its
// resolved executable is that file (also when the file has been replaced or removed since), or,
// when executable is a script ("#!"), it is the interpreter running that script. Another copy of
// the program elsewhere does not count, whatever its name. None when no process runs it.
std::optional<pid_t> processRunningExecutable(const std::string& executable);
