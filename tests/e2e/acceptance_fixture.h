#pragma once
#include "tests/e2e/nginx_server.h"
#include "tests/e2e/started_programs.h"
#include "tests/support/child_process.h"
#include "tests/support/launcher_sandbox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

// The built launcher bundle in a sandbox, run against nginx on loopback that serves releases
// made with launcher-publish from the sample game, as a game maker would publish them.
class AcceptanceTest : public testing::Test {
  protected:
    AcceptanceTest();
    void SetUp() override;

    // (Re)starts nginx over the releases folder and points the launcher's config at it.
    void serve(const NginxServer::Options& options = {});
    void configure(const std::string& launcherVersion, const std::string& endpointPath,
                   const PlistEntries& extra = {});

    // launcher-publish: the sample game as "<prefix><displayName>.app" at version, packed into
    // releases/<archive>; returns the archive's URL path.
    std::string publishGame(const std::string& version, const std::string& prefix = "");
    // A launcher installer: a bundle named bundleName (appDisplayName.app when empty) packed
    // into releases/launcher-<version>.zip; returns the URL path.
    std::string publishLauncherInstaller(const std::string& version,
                                         const std::string& bundleName = "");
    // releases/LatestVersion.ini written by launcher-publish manifest; returns its text. The
    // archives are named by their URL paths on the server, the game's also by a whole URL; extra
    // options of launcher-publish manifest follow (a rollout).
    std::string publishManifest(const std::string& applicationVersion,
                                const std::string& gameArchivePath, const std::string& prefix,
                                const std::string& launcherVersion,
                                const std::string& installerArchivePath = "/none.zip",
                                const std::vector<std::string>& extra = {});
    // The same for a game and a launcher installer published as they stand in releases, with
    // their archives' hashes and serial, signed with the private key in privateKey; extra
    // options of launcher-publish manifest follow (another --sign-with, an expiry).
    std::string publishSignedManifest(const std::string& applicationVersion,
                                      const std::string& gameArchivePath,
                                      const std::string& launcherVersion,
                                      const std::string& installerArchivePath, int serial,
                                      const std::filesystem::path& privateKey,
                                      const std::vector<std::string>& extra = {});
    // A new signing key made by launcher-publish keygen as sandbox.root / fileName: returns the
    // private key's file; publicKey gets the public half as releaseSigningPublicKey takes it.
    std::filesystem::path newSigningKey(const std::string& fileName, std::string& publicKey);
    // Game <version> published with prefix and announced by a manifest that names launcher
    // 1.0, which the launcher (1.0) is pointed at with extra settings; returns the manifest.
    std::string releaseGame(const std::string& version, const std::string& prefix = "",
                            const PlistEntries& extra = {});

    // Runs the launcher; the games it starts record themselves and stay quiet and alive.
    ChildResult runLauncher(const std::vector<std::string>& arguments = {});
    // The environment of those runs: the sandbox's folders and the quiet games.
    std::map<std::string, std::string> launcherRunEnvironment() const;
    // Starts the launcher without waiting for it; the result arrives once it has ended. The log
    // lines of such a run are read with sandbox.logMessages().
    std::future<ChildResult> startLauncher(const std::vector<std::string>& arguments = {});
    // Waits (at most 60 s) until the run log mentions text.
    bool waitForLogMention(const std::string& text) const;
    // The launchers running from the sandbox's bundle.
    std::vector<pid_t> runningLaunchers() const;
    // The log messages written by the last runLauncher, without time stamps.
    const std::vector<std::string>& lastRun() const { return lastRunMessages; }
    bool lastRunHas(const std::string& message) const;
    bool lastRunMentions(const std::string& text) const;
    // Whether message is followed at once by next in the last run's log.
    bool lastRunHasInOrder(const std::string& message, const std::string& next) const;
    // How many requests nginx logged that begin so: "GET /path status \"user agent\"".
    int requestsFor(const std::string& start) const;

    std::string gameBundleName(const std::string& prefix = "") const;
    // Where the launcher installs the game published with prefix.
    std::filesystem::path installedBundle(const std::string& prefix = "") const;
    std::vector<GameStart> gameStarts(std::size_t count) const;
    // The one start so far: the sample game under this test's name at version, run from the
    // executable in bundle.
    void expectOneStart(const std::string& version, const std::filesystem::path& bundle) const;

    LauncherSandbox sandbox;
    const std::filesystem::path releases;
    const std::filesystem::path staging;
    const std::filesystem::path gameRecord;
    const std::filesystem::path& dataFolder;
    // Unique on this machine: uninstall mode stops programs by this name, and tests that run
    // side by side must never stop each other's games.
    const std::string displayName;
    std::unique_ptr<NginxServer> server;
    StartedPrograms started;
    // Added to the environment of the launcher runs that start after it is set.
    std::map<std::string, std::string> extraEnvironment;

  private:
    std::map<std::string, std::string> launcherEnvironment() const;
    std::vector<std::string> lastRunMessages;
};

// Runs the built launcher-publish; throws (failing the test) when it fails.
void runPublish(const std::vector<std::string>& arguments);
// Whether a private mount namespace can be had (root and unshare), so that a test folder can
// stand in for /opt without the machine's /opt being written.
bool privateMountsWork();
// Window-using runs need an X display: skip the test without one.
#define SKIP_WITHOUT_DISPLAY()                                                                     \
    if (std::getenv("DISPLAY") == nullptr) {                                                       \
        GTEST_SKIP() << "needs an X display (scripts/test.sh starts Xvfb)";                        \
    }
