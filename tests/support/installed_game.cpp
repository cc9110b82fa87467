#include "tests/support/installed_game.h"

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

InstalledGame::InstalledGame(fs::path folder, std::string gameName)
    : dataFolder(std::move(folder)), name(std::move(gameName)) {}

InstalledGame::~InstalledGame() {
    if (started()) {
        killAndForget(waitForStart().pid);
    }
}

void InstalledGame::install(const std::string& version) const {
    installBundle();
    writeFile(dataFolder / "CurrentVersion.ini", "ApplicationVersion=" + version + "\n");
}

void InstalledGame::installBundle() const {
    makeGameBundle(bundle().string(), name);
}

fs::path InstalledGame::bundle() const {
    return dataFolder / (name + ".app");
}

std::string InstalledGame::executable() const {
    return (bundle() / "Contents" / "MacOS" / name).string();
}

bool InstalledGame::started() const {
    return fs::exists(executable() + ".pid");
}

GameRecord InstalledGame::waitForStart() const {
    return waitForGameRecord(executable());
}
