#pragma once
#include "tools/publish/manifest_analysis.h"
#include "update/release/manifest_expiry.h"

#include <string>
#include <vector>

// What lint says about ManifestExpires at now: a value that is not a UTC time and a time that
// has passed (a launcher that checks signatures refuses the manifest), and a signed manifest
// that expires within a day (a note: the scheduled signing may have stopped).
std::vector<ManifestFinding> expiryFindings(const std::string& text, UtcSeconds now);
