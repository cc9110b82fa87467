#include "tools/publish/rollout_findings.h"

std::string rolloutSummary(const Rollout& rollout) {
    if (!rollout.named) {
        return "rolled out to all players (no " + std::string(rolloutPercentKey) + ")";
    }
    return "rolled out to " + std::to_string(rollout.percent) + " % of players";
}

std::string rolloutProblem(const Rollout& rollout) {
    if (!rollout.malformed) {
        return {};
    }
    return std::string(rolloutPercentKey) + " \"" + rollout.value +
           "\" is not a whole number from 0 to 100; the launcher takes it as 0, and no player "
           "with a game installed updates to this release";
}

std::vector<ManifestFinding> rolloutFindings(const std::string& text,
                                             const ManifestAnalysis& analysis) {
    const Rollout rollout = readRollout(text);
    if (!rollout.named) {
        return {};
    }
    if (rollout.malformed) {
        return {{analysis.rolloutLine, rolloutProblem(rollout)}};
    }
    return {{analysis.rolloutLine,
             "the release is " + rolloutSummary(rollout) +
                 " who have a game installed, picked by their install numbers; players with "
                 "nothing installed always install it",
             false}};
}
