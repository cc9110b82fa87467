#pragma once

// Uninstall mode ("-u", silent with "-s"): stops the running game, deletes the data folder and,
// unless silent, shows an empty window meanwhile and opens the exit page. Returns the exit
// status: 0 when the data folder is gone, 1 when it could not be removed (or was refused) or
// the window could not be opened.
int runUninstaller(int argc, char** argv);

// Whether any argument after the program name is exactly "-s".
bool asksForSilence(int argc, char** argv);
