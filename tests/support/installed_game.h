#pragma once
#include "tests/support/game_bundle.h"

#include <filesystem>
#include <string>

// The test game as the launcher leaves it in its data folder: <name>.app, whose executable
// records its start, beside CurrentVersion.ini. A game started from it is ended with the object.
class InstalledGame {
  public:
    explicit InstalledGame(std::filesystem::path dataFolder, std::string name = "Drift Moor");
    ~InstalledGame();
    InstalledGame(const InstalledGame&) = delete;
    InstalledGame& operator=(const InstalledGame&) = delete;

    // The bundle and a record of version.
    void install(const std::string& version) const;
    // The bundle alone, without a record of what version it is.
    void installBundle() const;

    std::filesystem::path bundle() const;
    std::string executable() const;
    // Whether the game has recorded a start.
    bool started() const;
    // Its record once it has started (waits up to 10 s; pid 0 when it never did).
    GameRecord waitForStart() const;

  private:
    std::filesystem::path dataFolder;
    std::string name;
};
