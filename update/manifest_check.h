#pragma once
#include "update/release/version_manifest.h"

#include <string>

// Why the last fetchLatestVersionInfo call failed; None after a success.
enum class ManifestFailure { None, Transfer, Parse, Refused };
extern ManifestFailure lastManifestFailure;

// Fetches url and parses it into info: 0 when parsed cleanly, 1 when the transfer failed,
// otherwise the number of the first malformed line. rawText (optional) receives the text.
// A manifest that fails the signature checks returns 1 and leaves info and rawText alone.
int fetchLatestVersionInfo(LatestVersionInfo& info, const std::string& url, std::string* rawText);
