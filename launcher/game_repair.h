#pragma once
#include <string>

// Starts the installed game at application; when it cannot be started (no executable, or not
// running right after the start) logs why and reinstalls it once with the content installer,
// whose result is returned. 0 when a game runs.
int startOrRepairInstalledGame(const std::string& application);
