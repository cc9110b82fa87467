#pragma once
#include "update/manifest_check.h"

#include <string>

// Downloads the launcher's installer that manifest names into the temporary folder +
// "/" + appFolderName, unpacks it there and starts the bundle appDisplayName + ".app" in it: 0
// when it is running, else 1. The transfer settings shape the download.
int selfUpdateLauncher(const CheckedManifest& manifest, const std::string& appFolderName,
                       const std::string& appDisplayName, const TransferSettings& transfer);
