#pragma once
#include "tools/publish/download_estimate.h"
#include "tools/publish/release_description.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The steps of `release`, each the single command a studio would otherwise run by hand, so
// that both ways make and check a release alike.

struct ReleaseOptions {
    bool dryRun = false;
    bool json = false;
};

// What one step printed, for the release's own report.
struct StepOutput {
    std::string step; // "bundle", "pack", "manifest", "verify", "lint"
    std::string text;
    std::string errors; // its refusals and notes
    int status = 0;
};

struct MadeRelease {
    std::filesystem::path output; // where the files are (nothing there after a dry run)
    std::string archive;          // the content archive's file name
    std::string installer;        // the launcher installer's, when the release carries it
    std::uint64_t archiveBytes = 0;
    std::string applicationUrl;
    std::string launcherUrl;
    std::vector<std::string> mirrors; // where the output's files are also served
    std::uint64_t serial = 0;
    std::string serialFrom;        // "the live manifest" or "the description"
    bool liveManifestRead = false; // so the manifest's checks compare with it
    std::string liveProblem;       // why it was not, when it was not
    std::vector<StepOutput> steps;
    std::vector<PlayersDownload> downloads; // new players first
    bool checksPassed = false;
    bool written = false;
};

// A description's rollout replaced by text; false when text is not 0 to 100.
bool overrideRollout(ReleaseDescription& description, const std::string& text);

// Makes the release in a scratch folder beside the description's output and, unless a dry run
// or a check failed, moves it there. None, with problem set, when a step could not be done at
// all (a file missing, a download failed); a failed check is a made release whose checksPassed
// is false, with nothing written.
std::optional<MadeRelease> makeRelease(const ReleaseDescription& description,
                                       const ReleaseOptions& options, std::string& problem);

// The report: text, or one JSON object when options.json.
void printRelease(const MadeRelease& made, const ReleaseOptions& options, std::ostream& out);
