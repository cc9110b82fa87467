#pragma once
#include <string>

// How taking the data folder's run lock went.
enum class RunLock {
    Taken,         // held by this process until it ends
    HeldElsewhere, // another launcher is working on this data folder
    Unavailable,   // "launcher.lock" cannot be opened or locked; the reason is in problem
};

// One launcher at a time per data folder: an exclusive lock on folder + "/launcher.lock", kept
// for the rest of the process. The file is never followed through a link and never truncated,
// and the lock is not inherited by the programs the launcher starts.
RunLock takeRunLock(const std::string& folder, std::string& problem);
