#pragma once
#include "tools/publish/manifest_analysis.h"
#include "update/release/rollout.h"
#include "update/release/version_manifest.h"

#include <string>
#include <vector>

// What lint found in one manifest, gathered before anything is printed, so that the text and the
// JSON form say the same.
struct LintReport {
    std::string source;
    std::vector<ManifestFinding> findings;
    LatestVersionInfo reading; // the launcher's own reading
    int parseResult = 0;       // 0, or the first malformed line in the parser's pieces
    Rollout rollout;           // RolloutPercent as the launcher takes it

    std::size_t traps() const;
};

// The findings, then (unless quiet) the launcher's reading and the verdict, as lines of text.
void printLintText(const LintReport& report, bool quiet);
// The launcher's reading and its parser's result.
void printLintReading(const LintReport& report);
// One JSON object with the same facts.
void printLintJson(const LintReport& report);
// The JSON object for a manifest that could not be read at all.
void printLintJsonError(const std::string& source, const std::string& error);
