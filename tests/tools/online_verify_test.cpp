// verify --online against nginx serving a release made by launcher-publish: what players would
// get from the servers, fetched as a launcher fetches it.
#include "tests/e2e/nginx_server.h"
#include "tests/tools/signing_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>

namespace fs = std::filesystem;

namespace {

// The served folder as published: the game at its URL and a mirror's, the launcher installer
// whose config.plist trusts trustedKeys.
void publishFolder(const fs::path& www, const fs::path& game, const fs::path& installer) {
    fs::remove_all(www);
    fs::create_directories(www / "mirror");
    fs::copy_file(game, www / "game.zip");
    fs::copy_file(game, www / "mirror" / "game.zip");
    fs::copy_file(installer, www / "launcher.zip");
}

void writeLauncherSettings(const fs::path& bundle, const std::string& trustedKeys,
                           const std::string& launcherVersion = "1.0") {
    fs::create_directories(bundle / "Contents" / "Resources");
    writeFile(bundle / "Contents" / "Resources" / "config.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
              "\t<key>appDisplayName</key>\n\t<string>Game</string>\n"
              "\t<key>launcherVersion</key>\n\t<string>" +
                  launcherVersion +
                  "</string>\n"
                  "\t<key>releaseSigningThreshold</key>\n\t<integer>1</integer>\n"
                  "\t<key>releaseSigningPublicKey</key>\n\t<string>" +
                  trustedKeys + "</string>\n</dict>\n</plist>\n");
}

// The launcher bundle under folder/name, packed into folder/<name>.zip with its settings.
fs::path launcherInstaller(const fs::path& folder, const std::string& name,
                           const std::string& trustedKeys, const std::string& launcherVersion) {
    const fs::path bundle = folder / name / "Game.app";
    fs::create_directories(bundle.parent_path());
    fs::copy(folder / "staging" / "Game.app", bundle, fs::copy_options::recursive);
    writeLauncherSettings(bundle, trustedKeys, launcherVersion);
    const fs::path archive = folder / (name + ".zip");
    EXPECT_EQ(publish({"pack", bundle.string(), "--output", archive.string()}).exitStatus, 0);
    return archive;
}

struct ServerCase {
    std::string what;
    std::string directives;                      // for nginx's server block
    std::function<void(const fs::path&)> change; // to the served folder after publishing
    std::vector<std::string> lines;              // the start of lines the report must hold
    int exitStatus;
};

} // namespace

TEST_F(SigningCommands, VerifyOnlineFetchesWhatPlayersGet) {
    // A launcher installer (named for the game, as the content check wants) that trusts the
    // publisher's key and an older one.
    const std::string oldKey = "x9ok6VINhn1HRCtuCKu+lrGb/IJt1j8DQbu49pwPfSg=";
    fs::copy_file(launcherInstaller(folder.path(), "trusted", oldKey + ", " + publicKey, "1.0"),
                  installer, fs::copy_options::overwrite_existing);
    const std::string otherKey = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
    // Installers put on the server in place of the published one: a launcher of another
    // version, and one that trusts none of the manifest's signers.
    const fs::path otherVersion = launcherInstaller(folder.path(), "version", publicKey, "1.1");
    const fs::path otherTrust = launcherInstaller(folder.path(), "trust", otherKey, "1.0");
    const fs::path other = folder / "other.zip";
    writeFile(folder / "staging" / "Game.app" / "Contents" / "extra.txt", "new content\n");
    ASSERT_EQ(pack(other).exitStatus, 0);

    const fs::path www = folder / "www";
    const auto swap = [&](const std::string& path, const fs::path& with) {
        return [&, path, with](const fs::path& served) {
            fs::copy_file(with, served / path, fs::copy_options::overwrite_existing);
        };
    };
    const std::vector<ServerCase> cases = {
        {"a good release",
         "",
         nullptr,
         {"archive @/game.zip: ok, ", "ranges @/game.zip: ok, answered 206, validator ",
          "archive @/mirror/game.zip: ok, ", "installer @/launcher.zip: ok, ",
          "installer keys: Game.app trusts " + oldKey + ", " + publicKey + " (threshold 1)\n",
          "installer version: ok\n", "installer trust: ok\n",
          "installer trusts " + publicKey + ": yes", "installer trusts " + otherKey + ": no",
          "signed by " + publicKey + ": yes", "signed by " + otherKey + ": no"},
         0},
        {"the archive swapped on the server after publishing",
         "",
         swap("game.zip", other),
         {"archive @/game.zip: FAILED, serves ", "archive @/mirror/game.zip: ok, "},
         1},
        {"a mirror serving another archive",
         "",
         swap("mirror/game.zip", other),
         {"archive @/game.zip: ok, ", "archive @/mirror/game.zip: FAILED, serves "},
         1},
        {"a server without ranges",
         "max_ranges 0;",
         nullptr,
         {"ranges @/game.zip: FAILED, the server answered a range request with status 200 "
          "instead of 206: players download the whole archive for every update",
          "archive @/game.zip: ok, "},
         1},
        {"an installer of another launcher version",
         "",
         swap("launcher.zip", otherVersion),
         {"installer version: FAILED, Game.app/Contents/Resources/config.plist names "
          "launcherVersion \"1.1\" but the manifest's LauncherVersion is \"1.0\": players' "
          "launchers would see another version after every self-update"},
         1},
        {"an installer that trusts none of the signers",
         "",
         swap("launcher.zip", otherTrust),
         {"installer keys: Game.app trusts " + otherKey + " (threshold 1)\n",
          "installer trust: FAILED, the launcher this release ships would refuse this manifest: "
          "the signature does not verify with releaseSigningPublicKey; players who take the "
          "self-update would be stuck on the installed game\n"},
         1},
        {"the installer missing",
         "",
         [](const fs::path& served) { fs::remove(served / "launcher.zip"); },
         {"installer @/launcher.zip: FAILED, answers with HTTP status 404: players' launchers "
          "cannot update themselves"},
         1},
    };
    for (const ServerCase& c : cases) {
        SCOPED_TRACE(c.what);
        publishFolder(www, game, installer);
        NginxServer nginx(www, {.extraDirectives = c.directives});
        std::vector<std::string> options = signedOptions();
        options.insert(options.end(), {"--mirror-url", nginx.url("/mirror/game.zip")});
        const ChildResult written =
            writeManifest(options, nginx.url("/game.zip"), nginx.url("/launcher.zip"));
        fs::copy_file(manifest, www / "LatestVersion.ini", fs::copy_options::overwrite_existing);
        ASSERT_EQ(written.exitStatus, 0) << written.standardError;
        if (c.change) {
            c.change(www);
        }
        const std::vector<std::string> arguments = {"verify", "--online",
                                                    nginx.url("/LatestVersion.ini"), "--public-key",
                                                    publicKey + "," + otherKey};
        const ChildResult result = publish(arguments);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.standardOutput;
        for (std::string line : c.lines) {
            if (line.find('@') != std::string::npos) {
                line.replace(line.find('@'), 1, nginx.url(""));
            }
            EXPECT_NE(result.standardOutput.find("\n" + line), std::string::npos)
                << line << "\n"
                << result.standardOutput;
        }
        std::vector<std::string> json = arguments;
        json.push_back("--json");
        const ChildResult parsed = publish(json);
        EXPECT_EQ(parsed.exitStatus, c.exitStatus);
        EXPECT_EQ(nlohmann::json::parse(parsed.standardOutput).at("passed").get<bool>(),
                  c.exitStatus == 0);
    }
}
