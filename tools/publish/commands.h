#pragma once
#include <string>
#include <vector>

// Exit statuses shared by every sub-command.
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;    // the work could not be done, or lint found a trap
inline constexpr int kUsageError = 2; // the command line itself is wrong

// Each sub-command gets the words after its own name.
int runPack(const std::vector<std::string>& arguments);
int runBundle(const std::vector<std::string>& arguments);
int runManifest(const std::vector<std::string>& arguments);
int runLint(const std::vector<std::string>& arguments);
int runKeygen(const std::vector<std::string>& arguments);
int runSign(const std::vector<std::string>& arguments);
int runVerify(const std::vector<std::string>& arguments);

// "launcher-publish <command>: <message>" on standard error; returns status for chaining.
int reportError(const std::string& command, const std::string& message, int status);
