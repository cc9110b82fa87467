#pragma once
#include <cstddef>

// Builds that carry the tests only: a run whose environment names LAUNCHER_TEST_COMMIT_PAUSE_AT
// stops in its commit once that many staged files have been moved, logs that it waits and
// sleeps, so that a test can kill it at that very step. Other builds have an empty function.
void pauseInCommitForTests(std::size_t movedFiles);

// Likewise LAUNCHER_TEST_PAUSE_BEFORE_FIRST_SYNC (any value): a first install stops after its
// game's start, before the sync that makes its files durable.
void pauseBeforeFirstInstallSyncForTests();
