// The table through which the launcher reaches the windows of this module.
#include "launcher/window_module.h"
#include "ui/content_installer.h"
#include "ui/splash_session.h"
#include "ui/uninstall_window.h"

#include <memory>

namespace {

std::unique_ptr<UninstallWindow> uninstallWindow;

bool openUninstall(const std::string& title) {
    uninstallWindow = openUninstallWindow(title);
    return uninstallWindow != nullptr;
}

void closeUninstall() {
    uninstallWindow.reset();
}

const WindowEntries entries{openSplash,          showSplashUntil, closeSplash,
                            runContentInstaller, openUninstall,   closeUninstall};

} // namespace

extern "C" __attribute__((visibility("default"))) const WindowEntries* launcherWindowEntries() {
    return &entries;
}
