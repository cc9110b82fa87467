#pragma once
#include "tools/publish/verify_report.h"

#include <string>
#include <vector>

// verify --online: what players get from the servers of a published manifest. The content
// archive at ApplicationDownloadUrl and at every mirror is fetched as a launcher fetches it
// (range requests carrying the first answer's validator; a whole GET where ranges fail) and its
// SHA-256 compared with ApplicationSha256 (unsigned: with ApplicationDownloadUrl's); the launcher
// installer is fetched whole, compared with LauncherInstallerSha256, the keys and threshold its
// config.plist trusts are reported, each of publicKeys with yes or no, and the launcher it ships
// must take the manifest (shippedLauncherChecks).
void verifyOnline(const std::string& manifestText, const std::vector<std::string>& publicKeys,
                  VerifyReport& report);

// "signed by KEY: yes" or "no" for each of publicKeys: which of them have a signature on the
// manifest that verifies.
void reportSigners(const std::string& manifestText, const std::vector<std::string>& publicKeys,
                   VerifyReport& report);
