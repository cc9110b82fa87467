#pragma once
#include "tools/publish/options.h"

#include <string>
#include <vector>

// Exit statuses shared by every sub-command.
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;    // the work could not be done, or lint found a trap
inline constexpr int kUsageError = 2; // the command line itself is wrong

// A sub-command: the options it accepts, its --help text, and its work on the words after its
// name once they have been parsed by those options.
struct Command {
    AcceptedOptions accepted;
    const char* help;
    int (*run)(const ParsedArguments& parsed);
};

extern const Command packCommand;
extern const Command bundleCommand;
extern const Command manifestCommand;
extern const Command lintCommand;
extern const Command keygenCommand;
extern const Command signCommand;
extern const Command verifyCommand;
extern const Command launcherCommand;
extern const Command releaseCommand;

// "launcher-publish <command>: <message>" on standard error; returns status for chaining.
int reportError(const std::string& command, const std::string& message, int status);
