#pragma once
#include "update/manifest_check.h"

#include <string>
#include <vector>

// Where the content archive of manifest is fetched from, in the order to try: its
// ApplicationDownloadUrl, then each mirror of ApplicationDownloadMirrorUrls. A launcher that
// checks signatures takes the mirrors from the signed bytes alone, as it does the archive's
// hashes. A mirror left out (not http:// or https://, the primary again, named twice) gets one
// run-log line naming it. Never empty.
std::vector<std::string> archivePlaces(const CheckedManifest& manifest);
