#include "launcher/rollout_gate.h"

#include "launcher/run_log.h"
#include "update/release/install_number_record.h"

Rollout acceptedRollout(const CheckedManifest& manifest) {
    const Rollout rollout = manifestRollout(manifest);
    if (rollout.malformed) {
        writeToLog(std::string(rolloutPercentKey) + " \"" + rollout.value +
                   "\" is not a whole number from 0 to 100; taken as 0, so installed games stay "
                   "as they are");
    }
    return rollout;
}

std::optional<std::uint32_t> keptInstallNumber(const std::string& dataFolder) {
    const InstallNumberReading reading = readInstallNumber(dataFolder);
    if (reading.number) {
        return reading.number;
    }
    const auto number = drawInstallNumber();
    std::string problem = "no random number could be drawn";
    if (!number || !writeInstallNumber(dataFolder, *number, problem)) {
        // A number that cannot be kept would be drawn anew at every run and let the player in
        // sooner or later, whatever the percentage.
        writeToLog("No install number can be kept, so this player stays on its release until the "
                   "rollout reaches 100 % of players: " +
                   problem);
        return std::nullopt;
    }
    if (!reading.problem.empty()) {
        writeToLog("The install number record was replaced by a new number: " + reading.problem);
    }
    return number;
}

bool staysOnInstalledRelease(const std::string& dataFolder, const Rollout& rollout,
                             const std::string& latestVersion,
                             const std::string& installedVersion) {
    if (rollout.percent >= 100) {
        return false;
    }
    const std::string release = "Release " + latestVersion + " is rolled out to " +
                                std::to_string(rollout.percent) + " % of players; ";
    // At 0 % nobody is in, and no number is needed to tell.
    const auto number = rollout.percent > 0 ? keptInstallNumber(dataFolder) : std::nullopt;
    if (number && installNumberIsWithin(*number, rollout.percent)) {
        writeToLog(release + "this one is among them");
        return false;
    }
    writeToLog(release + "this one stays on " + installedVersion + " for now");
    return true;
}
