#pragma once
#include <string>

// The archive (appDisplayName + ".zip") and the bundle (prefix + appDisplayName + ".app") are
// joined to the folder they belong in: each must stay a single name there. Logs one line and
// returns false when appDisplayName or the bundle name would lead elsewhere.
bool applicationNamesStayInside(const std::string& appDisplayName,
                                const std::string& executablePrefix = "");
