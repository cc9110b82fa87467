#pragma once
#include <functional>
#include <thread>

// Starts body on a thread that counts as at work until body has returned. The threads that the
// launcher detaches (the installer's worker, the manifest check behind the splash) are never
// joined, so this count is the only way to learn at the end whether one still runs.
std::thread startCountedThread(std::function<void()> body);

// Whether a thread started above has not yet returned from its body.
bool countedThreadsAtWork();
