#pragma once
#include <atomic>
#include <string>

// The launcher's windows (splash, content installer, uninstall window) live in a module of
// their own, loaded only when a window is needed: the road that just starts the game never maps
// SDL and its libraries. This table is all the launcher sees of them.
struct WindowEntries {
    // Opens the splash with its picture and, when it opens, its font; false after logging why
    // (the run then goes on without a splash).
    bool (*openSplash)();
    // Draws splash frames until ended is raised or the player asks the window to close (which
    // raises launcherDone).
    void (*showSplashUntil)(const std::atomic<bool>& ended);
    // Closes the splash when it is open.
    void (*closeSplash)();
    // The content installer; when the splash is open, the installer's window takes its place.
    int (*runContentInstaller)();
    // The empty window shown while uninstalling; false after logging why.
    bool (*openUninstallWindow)(const std::string& title);
    void (*closeUninstallWindow)();
};

// The name of the table's accessor in the module: const WindowEntries* (void).
inline constexpr const char* windowEntriesSymbol = "launcherWindowEntries";

// The windows' module: <bundle>/Contents/Frameworks/liblauncher_ui.so, loaded on first use and
// kept for the rest of the run. None after a logged failure.
const WindowEntries* windowModule();
std::string windowModulePath();

// The content installer from the module; 1 when the module cannot be loaded (already logged).
int runContentInstallerFromModule();

// For programs that link the windows' code directly (the tests): use this table, load nothing.
void useLinkedWindowEntries(const WindowEntries* entries);

// Closes the splash, when the module is loaded and the splash open, on every way out of a scope.
struct SplashCloser {
    SplashCloser() = default;
    SplashCloser(const SplashCloser&) = delete;
    SplashCloser& operator=(const SplashCloser&) = delete;
    ~SplashCloser();
};
void closeSplashIfShown();
