#include "launcher/process_end.h"

#include "launcher/work_threads.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

void endLauncherProcess(int status) {
    if (countedThreadsAtWork()) {
        std::fflush(nullptr);
        _exit(status);
    }
    std::exit(status);
}
