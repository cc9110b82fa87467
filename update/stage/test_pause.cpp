#include "update/stage/test_pause.h"

#ifdef LAUNCHER_TEST_PAUSES
#include "launcher/run_log.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

void pauseInCommitForTests(std::size_t movedFiles) {
    const char* at = std::getenv("LAUNCHER_TEST_COMMIT_PAUSE_AT");
    if (at == nullptr || std::strtoul(at, nullptr, 10) != movedFiles) {
        return;
    }
    writeToLog("test pause in the commit after " + std::to_string(movedFiles) + " moves");
    ::sleep(120);
}

void pauseBeforeFirstInstallSyncForTests() {
    if (std::getenv("LAUNCHER_TEST_PAUSE_BEFORE_FIRST_SYNC") == nullptr) {
        return;
    }
    writeToLog("test pause before the first install's sync");
    ::sleep(120);
}
#else
void pauseInCommitForTests(std::size_t) {}
void pauseBeforeFirstInstallSyncForTests() {}
#endif
