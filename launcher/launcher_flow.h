#pragma once
#include "update/release/rollout.h"

#include <string>

// The result of the road the launcher took, and whether its content step has ended.
extern int launcherResult;
extern bool launcherDone;

// Logged once when the player closes the splash window before the content step: the run then
// ends with 1 and starts nothing.
inline constexpr const char* splashClosedMessage =
    "Splash window closed by the player; nothing was started";

// Logged once when the launcher's installer could not be had or started: the run then takes the
// content step as if the manifest named this launcher's version.
inline constexpr const char* selfUpdateFailedMessage =
    "The launcher could not update itself; going on with this launcher's version";

// The launcher's entry function: takes exactly one road and returns the exit status.
int launcherMain(int argc, char** argv);

// Starts the installed game when it is current, else runs the content installer. The installed
// release is current when its version is the manifest's and, when the manifest names its release
// index (latestIndexSha256 not empty), so is the installed one's: a release republished under
// the same version with other content is installed too. A release that the rollout has not
// brought to this player yet leaves the installed game to start as if it were current.
int launchOrUpdateContent(const std::string& latestIndexSha256 = {},
                          const std::string& installedIndexSha256 = {},
                          const Rollout& rollout = {});

// Whether any argument after the program name is exactly "-u".
bool asksForUninstall(int argc, char** argv);
