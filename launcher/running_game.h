#pragma once
#include <string>

// Whether the game bundle at application already runs for this player; when it does, logs one
// line saying so. The caller then starts no second copy and installs nothing under the running
// one, as a Mac brings a running application forward instead of starting it again.
bool gameIsAlreadyRunning(const std::string& application);
