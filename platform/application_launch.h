#pragma once
#include <string>
#include <vector>

// Starts an application without waiting for it: 0 when the started process is still running
// right after the start, 1 when it is not or nothing could be started. Logs nothing.
int launchApplication(const std::string& application);
int launchApplicationWithArguments(const std::string& application,
                                   const std::vector<std::string>& arguments);
