#include "tools/publish/rollout_option.h"

#include "update/release/rollout.h"

bool readRolloutOption(const ParsedArguments& parsed, std::optional<int>& percent,
                       std::string& problem) {
    if (!parsed.has(kRollout)) {
        return true;
    }
    // The launcher's own reading: what it would take as 0 is no percentage to write.
    percent = parseRolloutPercent(parsed.value(kRollout));
    if (!percent) {
        problem = std::string(kRollout) + " \"" + parsed.value(kRollout) +
                  "\" is not a whole number from 0 to 100";
        return false;
    }
    return true;
}

std::string rolloutPercentLine(int percent) {
    return std::string(rolloutPercentKey) + "=" + std::to_string(percent) + "\n";
}
