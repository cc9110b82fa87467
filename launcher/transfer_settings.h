#pragma once
#include "launcher/launcher_config.h"
#include "update/http/curl_session.h"

#include <algorithm>

// More connections than this gain nothing on any line and only load the server.
constexpr int mostContentConnections = 16;

// The settings of config.plist that shape every transfer, as update/ takes them.
inline TransferSettings configuredTransferSettings(const LauncherConfig& config) {
    TransferSettings settings;
    settings.verifyServerCertificates = config.verifyServerCertificates != 0;
    settings.contentConnections =
        std::clamp(config.contentTransferConnections, 1, mostContentConnections);
    return settings;
}
