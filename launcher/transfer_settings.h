#pragma once
#include "launcher/launcher_config.h"
#include "update/http/curl_session.h"

// The settings of config.plist that shape every transfer, as update/ takes them.
inline TransferSettings configuredTransferSettings(const LauncherConfig& config) {
    return TransferSettings{config.verifyServerCertificates != 0};
}
