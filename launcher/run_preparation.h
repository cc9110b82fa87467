#pragma once
#include <optional>
#include <string>

// What the run works with once it is prepared; or, when it ended while being prepared, its
// exit status.
struct PreparedRun {
    std::optional<int> exitStatus;
    std::string temporaryFolder;
    std::string dataFolder;
};

// Everything before the manifest: the move out of a temporary place, the settings, the data
// folder, the run lock and the run log, which then holds the settings.
PreparedRun prepareRun();
