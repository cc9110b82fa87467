#pragma once
#include <string>

// Sets the run log up in folder for the life of the object, then gives standard output back to
// the test runner. The log's lines are read from folder + "/out.log".
class LogCapture {
  public:
    explicit LogCapture(const std::string& folder);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string contents() const;
    std::string path() const { return logPath; }

  private:
    int savedStandardOutput = -1;
    std::string logPath;
};
