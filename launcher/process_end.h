#pragma once

// Ends the launcher's process with status. While a thread of the content installer is still at
// work (its window was closed early) the log is flushed and the process ends at once, without
// destroying the process-wide values that thread still uses; otherwise it exits normally, with
// static destructors and leak checks.
[[noreturn]] void endLauncherProcess(int status);
