#include "tests/e2e/acceptance_fixture.h"

#include "tests/support/temp_folder.h"

#include <algorithm>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

void runPublish(const std::vector<std::string>& arguments) {
    const ChildResult result = runChild(PUBLISH_TOOL, arguments);
    if (result.exitStatus != 0) {
        throw std::runtime_error("launcher-publish " + arguments.front() +
                                 " failed: " + result.standardError);
    }
}

bool privateMountsWork() {
    if (geteuid() != 0 || !fs::exists("/usr/bin/unshare")) {
        return false;
    }
    return runChild("/usr/bin/unshare", {"-m", "/bin/true"}).exitStatus == 0;
}

AcceptanceTest::AcceptanceTest()
    : releases(sandbox.root / "releases"), staging(sandbox.root / "staging"),
      gameRecord(sandbox.root / "game-starts.txt"), dataFolder(sandbox.dataFolder),
      displayName("Drift Moor " + std::to_string(getpid())), started(sandbox.root.path()) {
    fs::create_directories(releases);
}

void AcceptanceTest::SetUp() {
    serve();
}

void AcceptanceTest::serve(const NginxServer::Options& options) {
    server.reset();
    server = std::make_unique<NginxServer>(releases, options);
}

void AcceptanceTest::configure(const std::string& launcherVersion, const std::string& endpointPath,
                               const PlistEntries& extra) {
    PlistEntries entries{{"appDisplayName", "<string>" + displayName + "</string>"}};
    entries.insert(entries.end(), extra.begin(), extra.end());
    sandbox.writeConfig(server->url(endpointPath), launcherVersion, entries);
}

std::string AcceptanceTest::gameBundleName(const std::string& prefix) const {
    return prefix + displayName + ".app";
}

fs::path AcceptanceTest::installedBundle(const std::string& prefix) const {
    return dataFolder / gameBundleName(prefix);
}

std::string AcceptanceTest::publishGame(const std::string& version, const std::string& prefix) {
    const fs::path folder = staging / ("game-" + version);
    runPublish({"bundle", "--executable", SAMPLE_GAME, "--name", displayName, "--version", version,
                "--prefix", prefix, "--output-folder", folder.string(), "--replace"});
    const std::string archive = "game-" + version + ".zip";
    runPublish({"pack", (folder / gameBundleName(prefix)).string(), "--output",
                (releases / archive).string()});
    return "/" + archive;
}

std::string AcceptanceTest::publishLauncherInstaller(const std::string& version,
                                                     const std::string& bundleName) {
    const fs::path folder = staging / ("launcher-" + version);
    const std::string name =
        bundleName.empty() ? displayName : bundleName.substr(0, bundleName.size() - 4);
    runPublish({"bundle", "--executable", SAMPLE_GAME, "--name", name, "--version", version,
                "--output-folder", folder.string(), "--replace"});
    const std::string archive = "launcher-" + version + ".zip";
    runPublish(
        {"pack", (folder / (name + ".app")).string(), "--output", (releases / archive).string()});
    return "/" + archive;
}

std::string AcceptanceTest::publishManifest(const std::string& applicationVersion,
                                            const std::string& gameArchivePath,
                                            const std::string& prefix,
                                            const std::string& launcherVersion,
                                            const std::string& installerArchivePath,
                                            const std::vector<std::string>& extra) {
    const std::string gameUrl =
        gameArchivePath.starts_with("/") ? server->url(gameArchivePath) : gameArchivePath;
    std::vector<std::string> arguments = {"manifest",
                                          "--application-version",
                                          applicationVersion,
                                          "--application-url",
                                          gameUrl,
                                          "--executable-prefix",
                                          prefix,
                                          "--launcher-version",
                                          launcherVersion,
                                          "--launcher-url",
                                          server->url(installerArchivePath),
                                          "--output",
                                          (releases / "LatestVersion.ini").string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    runPublish(arguments);
    return readFile(releases / "LatestVersion.ini");
}

std::string AcceptanceTest::publishSignedManifest(const std::string& applicationVersion,
                                                  const std::string& gameArchivePath,
                                                  const std::string& launcherVersion,
                                                  const std::string& installerArchivePath,
                                                  int serial, const fs::path& privateKey,
                                                  const std::vector<std::string>& extra) {
    const fs::path manifest = releases / "LatestVersion.ini";
    std::vector<std::string> arguments = {"manifest",
                                          "--application-version",
                                          applicationVersion,
                                          "--application-url",
                                          server->url(gameArchivePath),
                                          "--executable-prefix",
                                          "",
                                          "--launcher-version",
                                          launcherVersion,
                                          "--launcher-url",
                                          server->url(installerArchivePath),
                                          "--application-archive",
                                          (releases / gameArchivePath.substr(1)).string(),
                                          "--launcher-archive",
                                          (releases / installerArchivePath.substr(1)).string(),
                                          "--serial",
                                          std::to_string(serial),
                                          "--sign-with",
                                          privateKey.string(),
                                          "--output",
                                          manifest.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    runPublish(arguments);
    return readFile(manifest);
}

fs::path AcceptanceTest::newSigningKey(const std::string& fileName, std::string& publicKey) {
    const fs::path file = sandbox.root / fileName;
    const ChildResult made = runChild(PUBLISH_TOOL, {"keygen", "--output", file.string()});
    if (made.exitStatus != 0) {
        throw std::runtime_error("keygen failed: " + made.standardError);
    }
    publicKey = made.standardOutput.substr(0, made.standardOutput.find('\n'));
    return file;
}

std::string AcceptanceTest::releaseGame(const std::string& version, const std::string& prefix,
                                        const PlistEntries& extra) {
    const std::string manifest =
        publishManifest(version, publishGame(version, prefix), prefix, "1.0");
    configure("1.0", "/LatestVersion.ini", extra);
    return manifest;
}

std::map<std::string, std::string> AcceptanceTest::launcherEnvironment() const {
    std::map<std::string, std::string> environment = {{"SAMPLE_GAME_RECORD", gameRecord.string()},
                                                      {"SAMPLE_GAME_QUIET", "1"},
                                                      {"SAMPLE_GAME_SECONDS", "60"}};
    environment.insert(extraEnvironment.begin(), extraEnvironment.end());
    return environment;
}

std::map<std::string, std::string> AcceptanceTest::launcherRunEnvironment() const {
    std::map<std::string, std::string> environment = {
        {"HOME", (sandbox.root / "home").string()},
        {"XDG_DATA_HOME", (sandbox.root / "data").string()},
        {"TMPDIR", sandbox.temporaryFolder.string() + "/"}};
    for (const auto& [name, value] : launcherEnvironment()) {
        environment[name] = value;
    }
    return environment;
}

ChildResult AcceptanceTest::runLauncher(const std::vector<std::string>& arguments) {
    const std::size_t before = sandbox.logText().size();
    const ChildResult result = sandbox.run(arguments, launcherEnvironment());
    const std::string log = sandbox.logText();
    lastRunMessages = logMessagesOf(log.size() >= before ? log.substr(before) : log);
    return result;
}

bool AcceptanceTest::lastRunHas(const std::string& message) const {
    return std::find(lastRunMessages.begin(), lastRunMessages.end(), message) !=
           lastRunMessages.end();
}

bool AcceptanceTest::lastRunMentions(const std::string& text) const {
    return std::any_of(lastRunMessages.begin(), lastRunMessages.end(),
                       [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

bool AcceptanceTest::lastRunHasInOrder(const std::string& message, const std::string& next) const {
    const auto at = std::find(lastRunMessages.begin(), lastRunMessages.end(), message);
    return at != lastRunMessages.end() && at + 1 != lastRunMessages.end() && *(at + 1) == next;
}

int AcceptanceTest::requestsFor(const std::string& start) const {
    const auto lines = server->requests();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.starts_with(start);
    }));
}

std::vector<GameStart> AcceptanceTest::gameStarts(std::size_t count) const {
    return waitForGameStarts(gameRecord, count);
}

void AcceptanceTest::expectOneStart(const std::string& version, const fs::path& bundle) const {
    const auto starts = gameStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].name, displayName);
    EXPECT_EQ(starts[0].version, version);
    EXPECT_EQ(executableOf(starts[0].pid),
              (bundle / "Contents" / "MacOS" / "sample_game").string());
}

std::future<ChildResult> AcceptanceTest::startLauncher(const std::vector<std::string>& arguments) {
    return std::async(std::launch::async, [this, arguments, environment = launcherEnvironment()] {
        return sandbox.run(arguments, environment);
    });
}

bool AcceptanceTest::waitForLogMention(const std::string& text) const {
    for (int i = 0; i < 1200; ++i) {
        if (sandbox.logMentions(text)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::vector<pid_t> AcceptanceTest::runningLaunchers() const {
    return processesRunningFrom(sandbox.bundle);
}
