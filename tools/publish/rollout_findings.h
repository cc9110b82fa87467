#pragma once
#include "tools/publish/manifest_analysis.h"
#include "update/release/rollout.h"

#include <string>
#include <vector>

// How far a release goes, for people: "rolled out to 10 % of players", or to all of them when
// the manifest has no RolloutPercent.
std::string rolloutSummary(const Rollout& rollout);

// Why the launcher takes a RolloutPercent as 0; empty for one it reads as written.
std::string rolloutProblem(const Rollout& rollout);

// What lint says about RolloutPercent at the line the launcher reads it from: a note with the
// share of players the release reaches, or a trap for a value the launcher takes as 0.
std::vector<ManifestFinding> rolloutFindings(const std::string& text,
                                             const ManifestAnalysis& analysis);
