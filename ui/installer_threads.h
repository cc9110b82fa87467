#pragma once
#include <thread>

// Starts body on a thread that counts as at work until body has returned. The content installer
// detaches its threads, so this count is the only way to learn whether one still runs.
std::thread startInstallerThread(void (*body)());

// Whether a thread started above has not yet returned from its body.
bool installerThreadsAtWork();
