#include "ui/content_installer.h"

#include "launcher/run_log.h"

int runContentInstaller() {
    writeToLog("The content installer is not available in this build");
    return 1;
}
