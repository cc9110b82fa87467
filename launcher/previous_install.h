#pragma once

// Thread body: starts the earlier installation's launcher, found by the settings
// previousInstallPath + "/" + previousInstallCompanyFolderName + "/" +
// previousInstallAppFolderName, with "-u" so that it removes itself. Logs nothing.
void launchPreviousInstallUninstaller();
