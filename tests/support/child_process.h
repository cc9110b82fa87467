#pragma once
#include <chrono>
#include <map>
#include <string>
#include <vector>

struct ChildResult {
    int exitStatus = -1; // -1 when it did not end on its own (killed at the time limit)
    std::string standardOutput;
    std::string standardError;
    long peakResidentKiB = 0; // the child's peak resident memory, as the kernel counted it
};

// Runs program with arguments, the current environment changed by environment (an empty value
// removes the variable), waits at most limit, and collects what it printed.
ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment = {},
                     std::chrono::seconds limit = std::chrono::seconds(60),
                     const std::string& workingFolder = "");

// Whether a process with this id exists and is not a zombie.
bool processIsAlive(int pid);
// Ends a process started by a test and waits briefly until it is gone.
void killAndForget(int pid);
