// launcher: makes a studio's launcher bundle from the built one, with its settings in
// config.plist and its names in Info.plist, and the installer archive the self-update fetches.
#include "tools/publish/archive_checks.h"
#include "tools/publish/bundle_pack.h"
#include "tools/publish/commands.h"
#include "tools/publish/launcher_settings.h"
#include "tools/publish/options.h"
#include "update/release/release_signature.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const kHelp =
    "usage: launcher-publish launcher --bundle Launcher.app --output-folder DIR --name NAME\n"
    "           --endpoint URL --company C --app-folder F --launcher-version V\n"
    "           [--public-key KEY]... [--threshold N] [--offline-play 0|1]\n"
    "           [--installer FILE] [--replace]\n"
    "\n"
    "Makes DIR/NAME.app, the launcher bundle to ship, from the built one (--bundle), and\n"
    "its installer archive, which holds NAME.app: the self-update unpacks the installer\n"
    "and starts <appDisplayName>.app, so a launcher under another name would fetch it\n"
    "again on every run. Contents/Resources/config.plist gets latestVersionEndpoint (URL),\n"
    "appDisplayName (NAME), companyFolderName (C), appFolderName (F), launcherVersion (V),\n"
    "releaseSigningPublicKey (the keys, separated by commas), releaseSigningThreshold (N)\n"
    "and startInstalledGameWhenOffline; its other keys stay. Contents/Info.plist gets\n"
    "CFBundleName and CFBundleDisplayName (NAME) and CFBundleShortVersionString (V).\n"
    "Keys, threshold and offline play not given stay as --bundle has them.\n"
    "\n"
    "Refused, and nothing written, when the launcher would refuse a value: a name that is\n"
    "empty, . or .. or holds \"/\", an endpoint that is not http:// or https://, a version\n"
    "that a manifest's LauncherVersion cannot hold, a key that is not base64 of 32 bytes,\n"
    "a threshold above the number of different keys.\n"
    "\n"
    "options:\n"
    "  --bundle DIR             the built launcher bundle (build-release/Launcher.app)\n"
    "  --output-folder DIR      where to make NAME.app and the installer (created)\n"
    "  --name NAME              the game's name (appDisplayName): the launcher bundle's\n"
    "                           name and the game bundle's, after its prefix\n"
    "  --endpoint URL           where the launcher fetches LatestVersion.ini\n"
    "  --company C              the data folder's first level (companyFolderName)\n"
    "  --app-folder F           its second level (appFolderName)\n"
    "  --launcher-version V     this launcher's version: the manifest's LauncherVersion\n"
    "  --public-key KEY         a trusted release key as keygen prints it (repeatable)\n"
    "  --threshold N            how many different keys must sign (0 and 1: one)\n"
    "  --offline-play 0|1       start the installed game when there is no network\n"
    "  --installer FILE         the installer archive (default DIR/NAME.zip)\n"
    "  --replace                replace a bundle or installer already there\n"
    "  -h, --help               show this help\n";

// Removes what was made on the way unless the command got through.
struct Scratch {
    std::vector<fs::path> paths;
    ~Scratch() {
        for (const fs::path& path : paths) {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    }
};

std::optional<std::int32_t> smallNumber(const std::string& text, std::uint64_t largest) {
    const auto number = parseManifestSerial(text);
    return number && *number <= largest ? std::optional(static_cast<std::int32_t>(*number))
                                        : std::nullopt;
}

// The settings on the command line; none, with problem set, when an option's form is wrong.
std::optional<LauncherSettings> settingsOf(const ParsedArguments& parsed, std::string& problem) {
    LauncherSettings settings{parsed.value("--name"), parsed.value("--endpoint"),
                              parsed.value("--company"), parsed.value("--app-folder"),
                              parsed.value("--launcher-version")};
    if (parsed.has("--public-key")) {
        std::string keys;
        for (const std::string& key : parsed.lists.at("--public-key")) {
            keys += (keys.empty() ? "" : ", ") + key;
        }
        settings.releaseSigningPublicKey = keys;
    }
    if (parsed.has("--threshold")) {
        settings.releaseSigningThreshold = smallNumber(parsed.value("--threshold"), 1000);
        if (!settings.releaseSigningThreshold) {
            problem = "--threshold must be a decimal number up to 1000";
            return std::nullopt;
        }
    }
    if (parsed.has("--offline-play")) {
        settings.startInstalledGameWhenOffline = smallNumber(parsed.value("--offline-play"), 1);
        if (!settings.startInstalledGameWhenOffline) {
            problem = "--offline-play takes 0 or 1";
            return std::nullopt;
        }
    }
    return settings;
}

std::string sourceProblem(const fs::path& source, const fs::path& folder) {
    std::error_code error;
    if (!fs::is_regular_file(source / "Contents" / "Resources" / "config.plist", error) ||
        !fs::is_regular_file(source / "Contents" / "Info.plist", error)) {
        return "--bundle " + source.string() + " is no launcher bundle: it has no " +
               "Contents/Resources/config.plist and Contents/Info.plist";
    }
    const fs::path realSource = fs::canonical(source, error);
    const fs::path realFolder = fs::weakly_canonical(fs::absolute(folder), error);
    const auto [end, unused] =
        std::mismatch(realSource.begin(), realSource.end(), realFolder.begin(), realFolder.end());
    if (error || end == realSource.end()) {
        return "--output-folder " + folder.string() + " lies inside --bundle " + source.string();
    }
    return {};
}

void printMade(const fs::path& bundle, const fs::path& installer, const LauncherSettings& s) {
    std::cout << "made " << bundle.string() << "\n"
              << "  appDisplayName=" << s.appDisplayName
              << ", latestVersionEndpoint=" << s.latestVersionEndpoint
              << ", companyFolderName=" << s.companyFolderName
              << ", appFolderName=" << s.appFolderName << ", launcherVersion=" << s.launcherVersion
              << "\n"
              << "  releaseSigningPublicKey="
              << (s.releaseSigningPublicKey->empty() ? "(none: releases are not checked)"
                                                     : *s.releaseSigningPublicKey)
              << ", releaseSigningThreshold=" << *s.releaseSigningThreshold
              << ", startInstalledGameWhenOffline=" << *s.startInstalledGameWhenOffline << "\n"
              << "made " << installer.string() << ", the launcher's installer holding "
              << bundle.filename().string() << " (publish it at LauncherInstallerDownloadUrl)\n";
}

// Makes the bundle and its installer under scratch names and puts both in place at the end.
bool makeLauncher(const fs::path& source, const fs::path& bundle, const fs::path& installer,
                  const LauncherSettings& settings, bool replace, std::string& problem) {
    Scratch scratch;
    std::string folderTemplate = (bundle.parent_path() / ".launcher-publish-XXXXXX").string();
    if (mkdtemp(folderTemplate.data()) == nullptr) {
        problem = "cannot make a folder in " + bundle.parent_path().string();
        return false;
    }
    scratch.paths.push_back(folderTemplate);
    const fs::path made = fs::path(folderTemplate) / bundle.filename();
    const fs::path packed = installer.string() + ".partial-" + std::to_string(getpid());
    scratch.paths.push_back(packed);
    fs::copy(source, made, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    std::ostringstream quiet;
    if (!writeLauncherSettings(made, settings, problem) ||
        !packBundle(made, packed, {}, quiet, problem)) {
        return false;
    }
    problem = checkLauncherInstaller(packed.string()).problem;
    if (!problem.empty()) {
        return false;
    }
    if (replace) {
        fs::remove_all(bundle);
    }
    fs::rename(made, bundle);
    fs::rename(packed, installer);
    return true;
}

int runLauncher(const ParsedArguments& parsed) {
    const std::string missing =
        missingOptions(parsed, {"--bundle", "--output-folder", "--name", "--endpoint", "--company",
                                "--app-folder", "--launcher-version"});
    if (!missing.empty() || !parsed.positionals.empty()) {
        return reportError("launcher",
                           missing.empty() ? "unexpected argument " + parsed.positionals[0]
                                           : "missing " + missing + " (see --help)",
                           kUsageError);
    }
    std::string problem;
    auto settings = settingsOf(parsed, problem);
    if (!settings) {
        return reportError("launcher", problem + " (see --help)", kUsageError);
    }
    const fs::path source = withoutTrailingSeparator(parsed.value("--bundle"));
    const fs::path folder = parsed.value("--output-folder");
    problem = sourceProblem(source, folder);
    if (problem.empty() &&
        completeFromConfig(*settings, (source / "Contents" / "Resources" / "config.plist").string(),
                           problem)) {
        problem = launcherSettingsProblem(*settings);
    }
    if (!problem.empty()) {
        return reportError("launcher", problem, kFailure);
    }
    const fs::path bundle = folder / (settings->appDisplayName + ".app");
    const fs::path installer = parsed.has("--installer")
                                   ? fs::path(parsed.value("--installer"))
                                   : folder / (settings->appDisplayName + ".zip");
    std::error_code error;
    for (const fs::path& output : {bundle, installer}) {
        if (fs::symlink_status(output, error).type() != fs::file_type::not_found &&
            !parsed.hasSwitch("--replace")) {
            return reportError("launcher",
                               output.string() + " is already there (--replace replaces it)",
                               kFailure);
        }
    }
    fs::create_directories(folder);
    if (!makeLauncher(source, bundle, installer, *settings, parsed.hasSwitch("--replace"),
                      problem)) {
        return reportError("launcher", problem, kFailure);
    }
    printMade(bundle, installer, *settings);
    return kSuccess;
}

} // namespace

const Command launcherCommand{
    {.valued = {"--bundle", "--output-folder", "--name", "--endpoint", "--company", "--app-folder",
                "--launcher-version", "--threshold", "--offline-play", "--installer"},
     .repeated = {"--public-key"},
     .switches = {"--replace"}},
    kHelp,
    runLauncher};
