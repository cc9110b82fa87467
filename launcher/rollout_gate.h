#pragma once
#include "update/manifest_check.h"
#include "update/release/rollout.h"

#include <cstdint>
#include <optional>
#include <string>

// The rollout of the accepted manifest; a RolloutPercent that is no whole number from 0 to 100
// gets one run-log line and counts as 0.
Rollout acceptedRollout(const CheckedManifest& manifest);

// The install number of dataFolder: the recorded one, else a new one recorded now (a damaged or
// unreadable record is replaced, with one run-log line). None, logged, when no number can be
// drawn or recorded.
std::optional<std::uint32_t> keptInstallNumber(const std::string& dataFolder);

// Whether the player whose game (installedVersion) is installed in dataFolder stays on it rather
// than update to latestVersion, because the rollout has not reached its install number. Only the
// game's content is held back this way, never the launcher's own update. Below 100 % the
// decision gets one run-log line.
bool staysOnInstalledRelease(const std::string& dataFolder, const Rollout& rollout,
                             const std::string& latestVersion, const std::string& installedVersion);
