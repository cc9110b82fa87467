#pragma once
#include "tools/publish/options.h"

#include <optional>
#include <string>

// The --rollout option of the commands that write a manifest: the share of players with a game
// installed that the release reaches (RolloutPercent).
inline constexpr const char* kRollout = "--rollout";

// The percentage --rollout asks for, none when it is not given; false with problem set when
// its value is not a whole number from 0 to 100.
bool readRolloutOption(const ParsedArguments& parsed, std::optional<int>& percent,
                       std::string& problem);

// The manifest line that holds a release back to percent % of players, with its line end;
// written inside the signed text, like every key the launcher goes by.
std::string rolloutPercentLine(int percent);
