#pragma once
#include <string>

// Force-stops the first running application of this user whose name is exactly name (no case
// folding, no trimming) and logs it; later matches keep running. Does not wait for the end.
// Applications are processes whose executable lies inside an application bundle
// (X.app/Contents/MacOS/); other processes are never stopped, whatever their name.
void stopRunningApplication(const std::string& name);
