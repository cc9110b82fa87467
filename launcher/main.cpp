#include "launcher/launcher_flow.h"
#include "launcher/process_end.h"

int main(int argc, char** argv) {
    endLauncherProcess(launcherMain(argc, argv));
}
