#include "launcher/window_module.h"

#include "launcher/run_log.h"
#include "platform/main_bundle.h"

#include <dlfcn.h>

namespace {

const WindowEntries* loadedEntries = nullptr;
bool loadAttempted = false;

const WindowEntries* loadWindowModule() {
    const std::string path = windowModulePath();
    // Bound at once, so that a module that does not fit this launcher fails here, with a
    // message, and not in the middle of drawing.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* error = dlerror();
        writeToLog("Unable to load the window module " + path + ": " + (error ? error : "?"));
        return nullptr;
    }
    using Accessor = const WindowEntries* (*)();
    const auto accessor = reinterpret_cast<Accessor>(dlsym(module, windowEntriesSymbol));
    if (accessor == nullptr) {
        writeToLog("The window module " + path + " has no " + windowEntriesSymbol);
        return nullptr;
    }
    // The module stays mapped until the process ends: its threads and windows may outlive any
    // scope that could unload it.
    return accessor();
}

} // namespace

std::string windowModulePath() {
    return mainBundlePath() + "/Contents/Frameworks/liblauncher_ui.so";
}

const WindowEntries* windowModule() {
    if (!loadAttempted) {
        loadAttempted = true;
        loadedEntries = loadWindowModule();
    }
    return loadedEntries;
}

void useLinkedWindowEntries(const WindowEntries* entries) {
    loadAttempted = true;
    loadedEntries = entries;
}

void closeSplashIfShown() {
    if (loadedEntries != nullptr) {
        loadedEntries->closeSplash();
    }
}

SplashCloser::~SplashCloser() {
    closeSplashIfShown();
}

int runContentInstallerFromModule() {
    const WindowEntries* windows = windowModule();
    return windows != nullptr ? windows->runContentInstaller() : 1;
}
