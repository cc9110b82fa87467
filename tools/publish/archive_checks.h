#pragma once
#include <string>
#include <vector>

// What a release's archives must hold for the launchers that fetch them. A launcher finds out
// only once every player has the release, and says so in one line of a log no one reads; these
// find out before anything is published. Each result is empty when the archive passes, else one
// line saying what is missing and what players would suffer.

// The launcher's installer at archivePath: the self-update unpacks it and starts
// <appDisplayName>.app, which must be there with its executable, Contents/MacOS/<CFBundleExecutable
// of its Info.plist, else the bundle's own name>. appDisplayName is what the config.plist of the
// launcher bundle in it names (the compiled-in name when it names none); an installer that is no
// launcher bundle is looked at for knownAppName, and skipped without one.
struct LauncherInstallerCheck {
    std::string problem = {};
    std::string appDisplayName = {}; // empty when not known
    bool skipped = false;            // problem says why
};
LauncherInstallerCheck checkLauncherInstaller(const std::string& archivePath,
                                              const std::string& knownAppName = "");

// The content archive at archivePath: every launcher refuses a release without bundleName
// (ApplicationExecutablePrefix + appDisplayName + ".app") and its executable, by the same rules.
std::string contentArchiveProblem(const std::string& archivePath, const std::string& bundleName);

// Both checks on a release's archives, as far as what is known allows.
struct ReleaseArchives {
    std::string contentArchive = {};   // empty: not given
    std::string launcherArchive = {};  // empty: not given
    std::string executablePrefix = {}; // the manifest's ApplicationExecutablePrefix
    std::string appDisplayName = {};   // empty: as the launcher archive's config.plist names it
};
struct ArchiveCheckLine {
    std::string name;     // "contents of <archive>"
    std::string problem;  // empty when it passed
    bool skipped = false; // the check could not be made; problem says why
};
std::vector<ArchiveCheckLine> checkReleaseArchives(const ReleaseArchives& archives);
