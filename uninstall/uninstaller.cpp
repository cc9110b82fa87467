#include "uninstall/uninstaller.h"

#include <cstdio>

int runUninstaller(int, char**) {
    std::fputs("Uninstall mode is not available in this build\n", stderr);
    return 1;
}
