#pragma once

// Uninstall mode ("-u", silent with "-s"): the process's exit status.
int runUninstaller(int argc, char** argv);
