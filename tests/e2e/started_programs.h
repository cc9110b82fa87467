#pragma once
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// The programs a launcher run started (games, launcher installers) run in sessions of their own
// and outlive the launcher, so a test finds them by where their executables lie.
std::vector<pid_t> processesRunningFrom(const std::filesystem::path& folder);
std::string executableOf(pid_t pid);

// Stops, when it goes out of scope (or on stopAll), every process whose executable lies inside
// folder.
class StartedPrograms {
  public:
    explicit StartedPrograms(std::filesystem::path folder) : folder(std::move(folder)) {}
    ~StartedPrograms() { stopAll(); }
    StartedPrograms(const StartedPrograms&) = delete;
    StartedPrograms& operator=(const StartedPrograms&) = delete;
    void stopAll() const;

  private:
    std::filesystem::path folder;
};

// One line of the sample game's record (SAMPLE_GAME_RECORD): who started, in which version.
struct GameStart {
    std::string name;
    std::string version;
    pid_t pid = 0;
};
std::vector<GameStart> readGameStarts(const std::filesystem::path& record);
// Waits (at most 10 s) until the record holds count starts, and returns what it holds then.
std::vector<GameStart> waitForGameStarts(const std::filesystem::path& record, std::size_t count);
// Waits (at most 10 s) until the process has ended.
bool endsSoon(pid_t pid);
