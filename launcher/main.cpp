#include "launcher/launcher_flow.h"

int main(int argc, char** argv) {
    return launcherMain(argc, argv);
}
