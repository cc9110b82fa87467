#pragma once
#include "tools/publish/manifest_analysis.h"

#include <string>
#include <vector>

// What lint says about ApplicationDownloadMirrorUrls: a note for each mirror the launcher fetches
// from when the places before it fail, a trap for each URL that is not http:// or https:// (a
// note for one named again), and a trap for a mirror line after a ManifestSignature line,
// outside the text the signature covers.
std::vector<ManifestFinding> mirrorFindings(const std::string& text,
                                            const ManifestAnalysis& analysis);
