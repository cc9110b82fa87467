#pragma once
#include "update/release/version_manifest.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// The launcher's INI parser reads at most this many bytes of a line at a time (line end
// included); whatever follows is parsed as further lines.
inline constexpr std::size_t kLinePieceBytes = 199;

// The keys the launcher reads, in the order the manifest writes them.
inline constexpr std::array<const char*, 5> kManifestKeys = {
    "ApplicationVersion", "ApplicationDownloadUrl", "ApplicationExecutablePrefix",
    "LauncherVersion", "LauncherInstallerDownloadUrl"};

std::string& manifestField(LatestVersionInfo& info, std::size_t key);
const std::string& manifestField(const LatestVersionInfo& info, std::size_t key);

struct ManifestFinding {
    std::size_t line = 0; // line of the file, from 1; 0 for the file as a whole
    std::string message;
    bool trap = true; // false: only a note, the launcher still reads what was meant
};

struct ManifestAnalysis {
    std::vector<ManifestFinding> findings;
    // What the launcher's parser will deliver, predicted line by line; checked against the
    // parser itself by the caller.
    LatestVersionInfo values;
    int firstMalformedLine = 0; // counted in the parser's pieces, as the parser reports it
    // The line of the ApplicationDownloadMirrorUrls the launcher reads; 0 when there is none.
    std::size_t mirrorLine = 0;
    // The same for RolloutPercent.
    std::size_t rolloutLine = 0;
};

// Walks text (already cut at its first NUL) the way the launcher's INI parser does and
// explains every line that the launcher reads otherwise than it looks.
ManifestAnalysis analyseManifest(const std::string& text);

// The launcher's own reading of text: the same parser call and key handler. Returns the
// parser's result (0 or the first malformed line).
int parseLikeLauncher(const std::string& text, LatestVersionInfo& info);
