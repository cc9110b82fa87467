#include "tools/publish/release_steps.h"

#include "tools/publish/archive_fetch.h"
#include "tools/publish/archive_index.h"
#include "tools/publish/bundle_times.h"
#include "tools/publish/commands.h"
#include "tools/publish/manifest_fetch.h"
#include "tools/publish/signing_keys.h"
#include "update/release/release_signature.h"

#include <charconv>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The folder a release is made in, beside its output so that moving it there is one rename;
// removed with everything in it unless it was moved.
struct ScratchFolder {
    fs::path path;
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// One release being made: what it is made from, where, and what it has come to so far.
struct Making {
    const ReleaseDescription& d;
    bool dryRun;
    fs::path scratch;
    fs::path out;       // becomes the output folder
    fs::path installer; // the launcher installer to hash and check: in out, or fetched
    MadeRelease made;
};

// A stream sent into text while a step runs: the steps are the single commands, which print
// their lines and their refusals.
struct CapturedStream {
    std::ostream& stream;
    std::ostringstream text;
    std::streambuf* kept;
    explicit CapturedStream(std::ostream& s) : stream(s), kept(s.rdbuf(text.rdbuf())) {}
    ~CapturedStream() { stream.rdbuf(kept); }
};

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// Runs a single command as a step; its lines name the files where they will be, not where they
// are made.
bool runStep(Making& making, const std::string& name, const Command& command,
             const ParsedArguments& arguments) {
    StepOutput step{name, {}, {}, kSuccess};
    {
        const CapturedStream output(std::cout);
        const CapturedStream errors(std::cerr);
        try {
            step.status = command.run(arguments);
        } catch (const std::exception& error) {
            step.status = reportError(name, error.what(), kFailure);
        }
        step.text = output.text.str();
        step.errors = errors.text.str();
    }
    for (std::string* text : {&step.text, &step.errors}) {
        if (!making.dryRun) {
            replaceAll(*text, making.out.string(), making.d.output.string());
        }
        replaceAll(*text, making.scratch.string(), "(scratch)");
    }
    making.made.steps.push_back(step);
    return step.status == kSuccess;
}

ParsedArguments arguments(std::vector<std::string> positionals,
                          std::map<std::string, std::string> values,
                          std::map<std::string, std::vector<std::string>> lists = {}) {
    ParsedArguments parsed;
    parsed.positionals = std::move(positionals);
    parsed.values = std::move(values);
    for (auto& [name, list] : lists) {
        if (!list.empty()) {
            parsed.lists[name] = std::move(list);
        }
    }
    return parsed;
}

std::vector<std::string> strings(const std::vector<fs::path>& paths) {
    return {paths.begin(), paths.end()};
}

// The bundle to pack: the description's own, or one made by bundle in the scratch folder.
std::optional<fs::path> prepareBundle(Making& making) {
    const ReleaseDescription& d = making.d;
    if (d.bundle) {
        return *d.bundle;
    }
    std::map<std::string, std::string> values = {
        {"--executable", d.executable->string()},
        {"--name", d.name},
        {"--version", d.version},
        {"--prefix", d.prefix},
        {"--output-folder", (making.scratch / "bundle").string()}};
    if (!d.executableName.empty()) {
        values["--executable-name"] = d.executableName;
    }
    if (!d.identifier.empty()) {
        values["--identifier"] = d.identifier;
    }
    if (!runStep(making, "bundle", bundleCommand,
                 arguments({}, values, {{"--resource", strings(d.resources)}}))) {
        return std::nullopt;
    }
    const fs::path bundle = making.scratch / "bundle" / (d.prefix + d.name + ".app");
    std::vector<fs::path> inputs = d.resources;
    inputs.push_back(*d.executable);
    std::string problem;
    if (!stampBundleTimes(bundle, inputs, problem)) {
        making.made.steps.push_back({"bundle", {}, "cannot set its times: " + problem, kFailure});
        return std::nullopt;
    }
    return bundle;
}

// The archive at url fetched whole into path; false with problem naming what it is.
bool fetchInto(const std::string& url, const fs::path& path, const std::string& what,
               std::string& problem) {
    const WholeFetch fetched = fetchWhole(url, path.string());
    if (!fetched.failed && fetched.httpStatus == 200) {
        return true;
    }
    problem = "cannot fetch " + what + " " + url + ": " +
              (fetched.failed ? fetched.why
                              : "the server answered " + std::to_string(fetched.httpStatus));
    return false;
}

// The older archives as local files: a URL is fetched into the scratch folder.
std::optional<std::vector<std::string>> olderArchives(const Making& making, std::string& problem) {
    std::vector<std::string> paths;
    for (const std::string& older : making.d.patchFrom) {
        if (!isWebAddress(older)) {
            paths.push_back(older);
            continue;
        }
        const fs::path local = making.scratch / ("older-" + std::to_string(paths.size()) + ".zip");
        if (!fetchInto(older, local, "the older release", problem)) {
            return std::nullopt;
        }
        paths.push_back(local.string());
    }
    return paths;
}

// One above the live manifest's serial, or else above the description's.
void chooseSerial(Making& making) {
    MadeRelease& made = making.made;
    const auto live = fetchLiveManifest(making.d.liveManifest, made.liveProblem);
    const auto serial =
        live ? parseManifestSerial(readSignedReleaseValues(*live).ManifestSerial) : std::nullopt;
    if (live && !serial) {
        made.liveProblem = "it has no ManifestSerial";
    }
    made.liveManifestRead = live.has_value();
    made.serial = (serial ? *serial : making.d.serial.value_or(0)) + 1;
    made.serialFrom = serial ? "the live manifest" : "the description";
}

std::map<std::string, std::string> manifestValues(const Making& making) {
    const ReleaseDescription& d = making.d;
    const MadeRelease& made = making.made;
    std::map<std::string, std::string> values = {
        {"--application-version", d.version},
        {"--application-url", made.applicationUrl},
        {"--executable-prefix", d.prefix},
        {"--launcher-version", d.launcherVersion},
        {"--launcher-url", made.launcherUrl},
        {"--application-archive", (making.out / made.archive).string()},
        {"--serial", std::to_string(made.serial)},
        {"--app-name", d.name},
        {"--output", (making.out / "LatestVersion.ini").string()}};
    const std::pair<bool, std::pair<const char*, std::string>> optional[] = {
        {!making.installer.empty(), {"--launcher-archive", making.installer.string()}},
        {made.liveManifestRead, {"--live-manifest", d.liveManifest}},
        {d.rollout.has_value(), {"--rollout", std::to_string(d.rollout.value_or(100))}},
        {!d.expiresIn.empty(), {"--expires-in", d.expiresIn}},
        {!d.expiresAt.empty(), {"--expires-at", d.expiresAt}}};
    for (const auto& [given, value] : optional) {
        if (given) {
            values.insert(value);
        }
    }
    return values;
}

bool writeManifest(Making& making) {
    std::vector<std::string> mirrors;
    for (const std::string& mirror : making.d.mirrors) {
        mirrors.push_back(mirror + making.made.archive);
    }
    return runStep(making, "manifest", manifestCommand,
                   arguments({}, manifestValues(making),
                             {{"--sign-with", strings(making.d.keys)}, {"--mirror-url", mirrors}}));
}

// lint, and verify with the public halves of the signing keys, every one of which must have
// signed; verify also compares with the live manifest and looks into the archives.
bool checkRelease(Making& making) {
    std::string problem;
    std::vector<std::string> publicKeys;
    for (const fs::path& path : making.d.keys) {
        if (const SigningKey key = readPrivateKeyFile(path.string(), problem)) {
            publicKeys.push_back(publicKeyBase64(key.get()));
        }
    }
    const std::string manifest = (making.out / "LatestVersion.ini").string();
    const bool linted = runStep(making, "lint", lintCommand, arguments({manifest}, {}));
    if (publicKeys.empty()) {
        return linted;
    }
    std::vector<std::string> files = {manifest, (making.out / making.made.archive).string()};
    if (!making.installer.empty()) {
        files.push_back(making.installer.string());
    }
    std::map<std::string, std::string> values = {
        {"--threshold", std::to_string(publicKeys.size())}};
    if (making.made.liveManifestRead) {
        values["--live-manifest"] = making.d.liveManifest;
    }
    const ParsedArguments verify = arguments(files, values, {{"--public-key", publicKeys}});
    return runStep(making, "verify", verifyCommand, verify) && linted;
}

// What new players and the players of each older release (local files in older, named as the
// description names them) will fetch of the archive.
bool estimateDownloads(Making& making, const std::vector<std::string>& older,
                       std::string& problem) {
    const fs::path path = making.out / making.made.archive;
    int error = 0;
    const std::unique_ptr<zip_t, ZipReadCloser> archive(zip_open(path.c_str(), ZIP_RDONLY, &error));
    const auto indexText = readArchiveIndex(path.string(), problem);
    const auto index = indexText ? parseReleaseIndex(*indexText) : std::nullopt;
    const auto entries = archive ? readReleaseEntries(archive.get(), problem) : std::nullopt;
    const auto releases = openOlderReleases(older, problem);
    if (!archive || !index || !entries || !releases) {
        problem = "cannot read the release back: " + problem;
        return false;
    }
    making.made.downloads.push_back(newPlayersDownload(*entries));
    for (std::size_t i = 0; i < releases->size(); ++i) {
        making.made.downloads.push_back(olderPlayersDownload(*entries, *index, (*releases)[i]));
        making.made.downloads.back().players = "players of " + making.d.patchFrom[i];
    }
    return true;
}

// The output folder must be new, or empty, so that a release never mixes with another's files.
bool outputIsFree(const fs::path& output, std::string& problem) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(output, error);
    if (!fs::exists(status) || (fs::is_directory(status) && fs::is_empty(output, error))) {
        return true;
    }
    problem = output.string() +
              " exists and is not an empty folder; give each release a folder of its own";
    return false;
}

bool moveIntoPlace(const Making& making, std::string& problem) {
    std::error_code error;
    fs::remove(making.d.output, error); // an empty folder at most; anything else was refused
    fs::rename(making.out, making.d.output, error);
    if (error) {
        problem = "cannot move the release to " + making.d.output.string() + ": " + error.message();
        return false;
    }
    return true;
}

// The installer goes beside the content under a name its URL carries as it is; one that is
// already served is fetched, so that the manifest carries its hash and it is checked like the
// rest.
bool takeInstaller(Making& making, std::string& problem) {
    const ReleaseDescription& d = making.d;
    if (!d.launcherInstaller) {
        making.installer = making.scratch / "installer.zip";
        return fetchInto(d.launcherUrl, making.installer, "the launcher's installer", problem);
    }
    making.installer = making.out / making.made.installer;
    std::error_code error;
    fs::copy_file(*d.launcherInstaller, making.installer, error);
    if (error) {
        problem = "cannot copy the launcher's installer " + d.launcherInstaller->string() + ": " +
                  error.message();
        return false;
    }
    return true;
}

// Names and places fixed before the first step.
bool startMaking(Making& making, std::string& problem) {
    const ReleaseDescription& d = making.d;
    std::error_code error;
    fs::create_directories(making.out, error);
    if (error) {
        problem = "cannot make " + making.out.string() + ": " + error.message();
        return false;
    }
    MadeRelease& made = making.made;
    made.output = d.output;
    made.archive = d.archive;
    made.applicationUrl = d.baseUrl + d.archive;
    made.mirrors = d.mirrors;
    if (d.launcherInstaller) {
        made.installer = urlSafeName(d.name + "-launcher-" + d.launcherVersion) + ".zip";
        made.launcherUrl = d.baseUrl + made.installer;
    } else {
        made.launcherUrl = d.launcherUrl;
    }
    return takeInstaller(making, problem);
}

} // namespace

bool overrideRollout(ReleaseDescription& description, const std::string& text) {
    int percent = -1;
    const char* end = text.data() + text.size();
    if (text.empty() || std::from_chars(text.data(), end, percent).ptr != end || percent < 0 ||
        percent > 100) {
        return false;
    }
    description.rollout = percent;
    return true;
}

std::optional<MadeRelease> makeRelease(const ReleaseDescription& d, const ReleaseOptions& options,
                                       std::string& problem) {
    if (!outputIsFree(d.output, problem)) {
        return std::nullopt;
    }
    const fs::path parent = d.output.parent_path().empty() ? "." : d.output.parent_path();
    const ScratchFolder scratch{
        parent / ("." + d.output.filename().string() + ".release-" + std::to_string(getpid()))};
    Making making{d, options.dryRun, scratch.path, scratch.path / "out", {}, {}};
    if (!startMaking(making, problem)) {
        return std::nullopt;
    }
    const auto bundle = prepareBundle(making);
    const auto older = bundle ? olderArchives(making, problem) : std::nullopt;
    if (!older) {
        return problem.empty() ? std::optional(making.made) : std::nullopt;
    }
    const ParsedArguments pack =
        arguments({bundle->string()}, {{"--output", (making.out / d.archive).string()}},
                  {{"--patch-from", *older}});
    chooseSerial(making);
    if (!runStep(making, "pack", packCommand, pack) || !writeManifest(making) ||
        !checkRelease(making)) {
        return making.made;
    }
    std::error_code error;
    making.made.archiveBytes = fs::file_size(making.out / d.archive, error);
    if (!estimateDownloads(making, *older, problem)) {
        return std::nullopt;
    }
    making.made.checksPassed = true;
    if (!options.dryRun) {
        if (!moveIntoPlace(making, problem)) {
            return std::nullopt;
        }
        making.made.written = true;
    }
    return making.made;
}
