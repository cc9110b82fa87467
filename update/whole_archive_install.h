#pragma once
#include "update/http/curl_session.h"

#include <optional>
#include <string>
#include <vector>

// The whole-archive road of the game content: downloads the archive into folder + "/" +
// archiveName (checked against requiredSha256 when given), unpacks it into the staging folder and
// commits it into folder (see installContentEntryWise for the commit and versionText). places
// (archivePlaces) are tried in order: a place whose download fails (no transfer, an HTTP error,
// another SHA-256) gets one run-log line and the next is tried; the last one's download is taken
// as one lone URL's always was. The archive never stays behind, whatever happens; nor do staged
// files, which a later run could not use. Refused before the download when the data folder's file
// system lacks room for the archive, and before unpacking when it lacks room for its entries. True
// once the release is in place (nothing is started); false after a run-log line. The launcher's
// own installer takes installWholeArchive.
bool installContentWholeArchive(const std::vector<std::string>& places, const std::string& folder,
                                const std::string& archiveName, const std::string& executableName,
                                const std::optional<std::string>& requiredSha256,
                                const TransferSettings& transfer, const std::string& versionText);
