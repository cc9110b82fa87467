#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

// A server written in Python under tests/e2e, run with /usr/bin/python3 on 127.0.0.1 for the
// life of the object: the script prints the port it listens on as its first line. For answers
// that nginx cannot be made to give.
class ScriptServer {
  public:
    ScriptServer(const std::string& scriptName, const std::vector<std::string>& arguments);
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    // http://127.0.0.1:port + path (path starts with "/").
    std::string url(const std::string& path) const;

  private:
    void stop();

    pid_t pid = -1;
    int listenPort = 0;
};
