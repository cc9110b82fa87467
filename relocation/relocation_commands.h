#pragma once
#include <optional>
#include <string>

// The texts the relocation hands to a shell or to the Finder.

// text in single quotes, each inner "'" written as "'\''", for use as one shell word.
std::string shellQuote(const std::string& text);

// Strips the download quarantine from the copy; recursive on AppKit above 949.
std::string quarantineCommand(const std::string& quotedDestination, bool recursive);

// Waits in the background until process pid has gone, then clears the quarantine (when there
// is one to clear) and opens the copy with openCommand.
std::string relaunchScript(int pid, const std::optional<std::string>& quarantine,
                           const std::string& openCommand);

// Detaches the disk image a few seconds after the launcher has ended.
std::string detachScript(const std::string& quotedDevice);

// Ends with status 0 when a process runs from the bundle at the quoted path (AppKit up to 949).
std::string runningCopyTest(const std::string& quotedStandardizedPath);

// The Finder script that moves path to the Trash. Backslashes and double quotes in path are
// escaped so that a bundle name cannot end the string and add commands of its own.
std::string finderTrashScript(const std::string& path);
