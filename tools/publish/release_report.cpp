// What `release` prints: the steps' own lines, then what players will fetch; or the same facts
// as one JSON object.
#include "tools/publish/release_steps.h"

#include <nlohmann/json.hpp>
#include <sstream>

namespace {

void printIndented(const std::string& text, std::ostream& out) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        out << "  " << line << "\n";
    }
}

std::string describe(const PlayersDownload& download) {
    std::string text = download.players + ": " + std::to_string(download.bytes) + " bytes in " +
                       std::to_string(download.entries) + " entries";
    if (download.patched > 0) {
        text += " (" + std::to_string(download.patched) + " as patches)";
    }
    return text;
}

void printText(const MadeRelease& made, std::ostream& out) {
    for (const StepOutput& step : made.steps) {
        out << step.step << (step.status == 0 ? "" : " (FAILED)") << ":\n";
        printIndented(step.text, out);
        printIndented(step.errors, out);
    }
    if (!made.checksPassed) {
        out << "release refused: nothing was written to " << made.output.string() << "\n";
        return;
    }
    out << "manifest serial: " << made.serial << " (one above " << made.serialFrom << "'s)\n";
    if (!made.liveManifestRead) {
        out << "  the live manifest was not read: " << made.liveProblem << "\n";
    }
    out << "what players will fetch:\n";
    for (const PlayersDownload& download : made.downloads) {
        out << "  " << describe(download) << "\n";
    }
    if (!made.written) {
        out << "dry run: nothing was written to " << made.output.string() << "\n";
        return;
    }
    out << "release written to " << made.output.string() << ": upload its files to "
        << made.applicationUrl.substr(0, made.applicationUrl.size() - made.archive.size());
    for (const std::string& mirror : made.mirrors) {
        out << " and " << mirror;
    }
    out << ", LatestVersion.ini last\n";
}

nlohmann::json asJson(const MadeRelease& made) {
    nlohmann::json steps = nlohmann::json::array();
    for (const StepOutput& step : made.steps) {
        steps.push_back({{"step", step.step},
                         {"passed", step.status == 0},
                         {"output", step.text},
                         {"errors", step.errors}});
    }
    nlohmann::json downloads = nlohmann::json::array();
    for (const PlayersDownload& download : made.downloads) {
        downloads.push_back({{"players", download.players},
                             {"bytes", download.bytes},
                             {"entries", download.entries},
                             {"patches", download.patched}});
    }
    return {{"passed", made.checksPassed},
            {"written", made.written},
            {"output", made.output.string()},
            {"archive", made.archive},
            {"archive_bytes", made.archiveBytes},
            {"application_url", made.applicationUrl},
            {"launcher_url", made.launcherUrl},
            {"mirrors", made.mirrors},
            {"serial", made.serial},
            {"serial_from", made.serialFrom},
            {"live_manifest_problem", made.liveProblem},
            {"steps", steps},
            {"downloads", downloads}};
}

} // namespace

void printRelease(const MadeRelease& made, const ReleaseOptions& options, std::ostream& out) {
    if (options.json) {
        out << asJson(made).dump(2) << "\n";
        return;
    }
    printText(made, out);
}
