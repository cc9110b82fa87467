#include "launcher/process_end.h"

#include "ui/installer_threads.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

void endLauncherProcess(int status) {
    if (installerThreadsAtWork()) {
        std::fflush(nullptr);
        _exit(status);
    }
    std::exit(status);
}
