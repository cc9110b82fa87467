#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

struct RunningApplication {
    pid_t processIdentifier = 0;
    // The bundle's display name for a program inside X.app/Contents/MacOS/, else the command name.
    std::string localizedName;
    // The enclosing bundle's path, empty outside a bundle.
    std::string bundlePath;
    std::string executablePath;
};

// Every process of this machine that can be looked at, in /proc order.
std::vector<RunningApplication> runningApplications();
