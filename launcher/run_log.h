#pragma once
#include <ctime>
#include <string>

// Points standard output at folder + "/out.log" (started over once it has reached
// 1,000,000 bytes) and writes the set-up header. A link, a folder or anything else that is not a
// plain file at that place is replaced by a fresh log, never written through. False when the log
// could not be set up.
bool setupLogFile(const std::string& folder);

// For a run that must finish its work without a log: from now on writeToLog writes to standard
// error while no log is set up, instead of ending the process.
void useStandardErrorWithoutLog();

// One entry: "<asctime text>:<message>\n". Ends the process with status 1 when the log was
// never set up (unless useStandardErrorWithoutLog was called). Safe to call from several threads
// at once.
void writeToLog(const std::string& message);

// The 24-character asctime() form of a local time, without the line end.
std::string asctimeText(const std::tm& local);

// The size at which setupLogFile starts the log over.
inline constexpr long long logRestartBytes = 1000000;
