// release: a whole release from the description kept in the studio's repository: the game's
// bundle, its archive with patches from older releases, the manifest with hashes, serial,
// signatures and expiry, every check the single commands make, and what players will fetch.
#include "tools/publish/commands.h"
#include "tools/publish/download_estimate.h"
#include "tools/publish/release_description.h"
#include "tools/publish/release_steps.h"

#include <iostream>

namespace fs = std::filesystem;

namespace {

const char* const kHelp =
    "usage: launcher-publish release RELEASE.ini [--dry-run] [--rollout N] [--json]\n"
    "\n"
    "Publishes a release from its description (see the README's \"Publishing a release\"):\n"
    "makes the game's bundle when the description names an executable, packs it with patches\n"
    "from every older archive it names (paths, or URLs fetched into a scratch file), writes\n"
    "LatestVersion.ini with the archives' hashes, a serial one above the live manifest's (or\n"
    "above the description's when the live one cannot be fetched), the signatures and the\n"
    "expiry, then checks what it wrote as pack, manifest and verify do, and prints what new\n"
    "players and the players of each older release will fetch.\n"
    "\n"
    "Everything is made in a scratch folder beside the output folder and moved into place\n"
    "only when every check passed: a refused release leaves nothing at the output. The\n"
    "output folder must not exist yet, or be empty. Upload its files under the\n"
    "description's base_url, the manifest last.\n"
    "\n"
    "options:\n"
    "  --dry-run    make and check everything, print what players will fetch, write nothing\n"
    "  --rollout N  RolloutPercent: the share of players with a game installed who update\n"
    "               (0 to 100; overrides the description's)\n"
    "  --json       print one JSON object with the same facts instead of the text\n"
    "  -h, --help   show this help\n";

int runRelease(const ParsedArguments& parsed) {
    if (parsed.positionals.size() != 1) {
        return reportError("release", "give one release description (see --help)", kUsageError);
    }
    std::string problem;
    auto description = readReleaseDescription(parsed.positionals.front(), problem);
    if (!description) {
        return reportError("release", problem, kUsageError);
    }
    if (parsed.has("--rollout") && !overrideRollout(*description, parsed.value("--rollout"))) {
        return reportError("release", "--rollout must be a whole number from 0 to 100",
                           kUsageError);
    }
    ReleaseOptions options{parsed.hasSwitch("--dry-run"), parsed.hasSwitch("--json")};
    const auto made = makeRelease(*description, options, problem);
    if (!made) {
        return reportError("release", problem, kFailure);
    }
    printRelease(*made, options, std::cout);
    if (!made->checksPassed) {
        // The failed step's own words, where a script reading standard error finds them.
        std::string words = made->steps.empty() ? "" : made->steps.back().errors;
        while (!words.empty() && words.back() == '\n') {
            words.pop_back();
        }
        return reportError("release",
                           "refused at its " +
                               (made->steps.empty() ? "first" : made->steps.back().step) + " step" +
                               (words.empty() ? ", as its lines above say" : ": " + words),
                           kFailure);
    }
    return kSuccess;
}

} // namespace

const Command releaseCommand{
    {.valued = {"--rollout"}, .switches = {"--dry-run", "--json"}}, kHelp, runRelease};
