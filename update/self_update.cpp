#include "update/self_update.h"

#include "launcher/run_log.h"

int selfUpdateLauncher() {
    writeToLog("Launcher self-update is not available in this build");
    return 1;
}
