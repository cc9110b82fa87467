// release: a whole release from the description a studio keeps in its repository, made and
// checked as the single commands do, or refused with nothing left at its output.
#include "tests/support/manifest_server.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/patched_release.h"
#include "tests/tools/publish_tool.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

class ReleaseCommand : public testing::Test {
  protected:
    void SetUp() override {
        keyLine = publish({"keygen", "--output", (folder / "release.pem").string()}).standardOutput;
        const ChildResult launcher = publish(
            {"launcher", "--bundle", LAUNCHER_BUNDLE_DIR, "--output-folder",
             (folder / "studio").string(), "--name", "Moor Game", "--endpoint",
             server.manifestUrl(), "--company", "Studio", "--app-folder", "MoorGame",
             "--launcher-version", "2.5", "--public-key", keyLine.substr(0, keyLine.find('\n'))});
        ASSERT_EQ(launcher.exitStatus, 0) << launcher.standardError;
        fs::create_directories(folder / "assets");
        writeFile(folder / "assets" / "levels.pak", levels);
    }

    // The description of release version with patches from the older archives, changed by
    // extra lines ("[section] key = value" replaces or adds that key; "-[section] key" drops it).
    fs::path describe(const std::string& version, const std::vector<std::string>& older = {},
                      const std::vector<std::string>& extra = {}) {
        std::map<std::string, std::vector<std::string>> sections = {
            {"game",
             {"name = Moor Game", "version = " + version,
              "prefix =", std::string("executable = ") + SAMPLE_GAME, "resource = assets"}},
            {"server", {"base_url = http://127.0.0.1:9/moor/", "live_manifest = " + liveUrl()}},
            {"signing", {"key = release.pem", "expires_in = 7d", "serial = 4"}},
            {"launcher", {"version = 2.5", "installer = studio/Moor Game.zip"}},
            {"release", {"output = out/" + version}}};
        for (const std::string& from : older) {
            sections["patches"].push_back("from = " + from);
        }
        for (const std::string& line : extra) {
            const std::string section =
                line.substr(line.find('[') + 1, line.find(']') - 1 - line.find('['));
            const std::string setting = line.substr(line.find(']') + 2);
            const std::string key = setting.substr(0, setting.find(' '));
            auto& lines = sections[section];
            std::erase_if(lines, [&](const std::string& l) { return l.rfind(key + " ", 0) == 0; });
            if (line[0] != '-') {
                lines.push_back(setting);
            }
        }
        std::string text;
        for (const auto& [section, lines] : sections) {
            text += "[" + section + "]\n";
            for (const std::string& l : lines) {
                text += l + "\n";
            }
        }
        const fs::path path = folder / ("release-" + version + ".ini");
        writeFile(path, text);
        return path;
    }

    std::string liveUrl() const { return server.manifestUrl(); }

    // No scratch folder of a release is left beside the outputs.
    bool scratchLeft() const {
        if (!fs::exists(folder / "out")) {
            return false;
        }
        for (const auto& item : fs::directory_iterator(folder / "out")) {
            if (item.path().filename().string().find(".release-") != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    TempFolder folder;
    ManifestServer server;
    std::string keyLine;
    std::string levels = incompressibleBytes(2 << 20, 1);
};

} // namespace

// 1.0 with no live manifest takes its serial from the description; 2.0 patches from 1.0 by path
// and by URL, takes the live serial, passes verify, and says what each group of players fetches.
TEST_F(ReleaseCommand, AReleaseIsPackedPatchedSignedCheckedAndItsDownloadsAreShown) {
    const ChildResult first = publish({"release", describe("1.0").string()});
    ASSERT_EQ(first.exitStatus, 0) << first.standardOutput << first.standardError;
    EXPECT_NE(first.standardOutput.find("manifest serial: 5 (one above the description's)"),
              std::string::npos)
        << first.standardOutput;
    for (const char* file :
         {"Moor-Game-1.0.zip", "LatestVersion.ini", "Moor-Game-launcher-2.5.zip"}) {
        EXPECT_TRUE(fs::is_regular_file(folder / "out" / "1.0" / file)) << file;
    }
    server.serve(readFile(folder / "out" / "1.0" / "LatestVersion.ini"));
    server.serveArchive(readFile(folder / "out" / "1.0" / "Moor-Game-1.0.zip"));

    writeFile(folder / "assets" / "levels.pak", changedSlightly(levels, 2));
    const ChildResult second =
        publish({"release",
                 describe("2.0", {"out/1.0/Moor-Game-1.0.zip", server.url("/game.zip")}).string(),
                 "--json", "--rollout", "25"});
    ASSERT_EQ(second.exitStatus, 0) << second.standardOutput << second.standardError;
    EXPECT_NE(readFile(folder / "out" / "2.0" / "LatestVersion.ini").find("\nRolloutPercent=25\n"),
              std::string::npos);
    const auto report = nlohmann::json::parse(second.standardOutput);
    EXPECT_EQ(report["serial"], 6);
    EXPECT_EQ(report["serial_from"], "the live manifest");
    EXPECT_EQ(report["application_url"], "http://127.0.0.1:9/moor/Moor-Game-2.0.zip");
    // The installer "Moor Game.zip" is published under a name its URL carries as it is.
    EXPECT_EQ(report["launcher_url"], "http://127.0.0.1:9/moor/Moor-Game-launcher-2.5.zip");
    ASSERT_EQ(report["downloads"].size(), 3u);
    EXPECT_EQ(report["downloads"][0]["players"], "new players");
    EXPECT_EQ(report["downloads"][0]["patches"], 0);
    for (int older : {1, 2}) {
        EXPECT_EQ(report["downloads"][older]["patches"], 1) << report["downloads"][older];
        EXPECT_LT(report["downloads"][older]["bytes"].get<std::uint64_t>(),
                  report["downloads"][0]["bytes"].get<std::uint64_t>() / 10);
    }
    const ChildResult verified =
        publish({"verify", "--public-key", keyLine.substr(0, keyLine.find('\n')),
                 (folder / "out" / "2.0" / "LatestVersion.ini").string(),
                 (folder / "out" / "2.0" / "Moor-Game-2.0.zip").string()});
    EXPECT_EQ(verified.exitStatus, 0) << verified.standardOutput;

    // The same inputs make the same archive, so a rollout is raised by releasing them again.
    server.serve(readFile(folder / "out" / "2.0" / "LatestVersion.ini"));
    const ChildResult again =
        publish({"release",
                 describe("2.0", {"out/1.0/Moor-Game-1.0.zip"}, {"[release] output = out/2.0-all"})
                     .string(),
                 "--rollout", "100"});
    ASSERT_EQ(again.exitStatus, 0) << again.standardOutput << again.standardError;
    EXPECT_TRUE(readFile(folder / "out" / "2.0-all" / "Moor-Game-2.0.zip") ==
                readFile(folder / "out" / "2.0" / "Moor-Game-2.0.zip"));

    // An installer already served is fetched, hashed into the manifest and checked.
    server.serveArchive(readFile(folder / "studio" / "Moor Game.zip"));
    const ChildResult dry =
        publish({"release",
                 describe("3.0", {},
                          {"-[launcher] installer", "[launcher] url = " + server.url("/game.zip")})
                     .string(),
                 "--dry-run"});
    EXPECT_EQ(dry.exitStatus, 0) << dry.standardOutput << dry.standardError;
    EXPECT_NE(dry.standardOutput.find("new players: "), std::string::npos) << dry.standardOutput;
    EXPECT_FALSE(fs::exists(folder / "out" / "3.0"));
    EXPECT_FALSE(scratchLeft());
}

// Each mistake is refused with its line and a non-zero exit, and leaves nothing at the output.
TEST_F(ReleaseCommand, MistakesAreRefusedWithNothingLeftAtTheOutput) {
    const ChildResult other =
        publish({"bundle", "--executable", SAMPLE_GAME, "--name", "Other", "--version", "1",
                 "--output-folder", (folder / "other").string()});
    ASSERT_EQ(other.exitStatus, 0) << other.standardError;
    ASSERT_EQ(publish({"pack", (folder / "other" / "Other.app").string(), "--output",
                       (folder / "other.zip").string()})
                  .exitStatus,
              0);
    ASSERT_EQ(publish({"keygen", "--output", (folder / "other.pem").string()}).exitStatus, 0);
    struct Case {
        const char* name;
        std::vector<std::string> extra;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"an unknown key", {"[game] title = Moor"}, 2, "[game] title is not a setting"},
        {"no base URL", {"-[server] base_url"}, 2, "it needs [server] base_url"},
        {"a rollout above 100", {"[release] rollout = 101"}, 2, "from 0 to 100"},
        {"an archive name a URL would escape",
         {"[release] archive = Moor Game.zip"},
         2,
         "must be a file name ending with .zip"},
        {"a bundle and an executable", {"[game] bundle = x.app"}, 2, "only one of [game] bundle"},
        {"an installer without the launcher's bundle",
         {"[launcher] installer = other.zip"},
         1,
         "never update themselves"},
        {"a launcher version other than the installer's",
         {"[launcher] version = 2.6"},
         1,
         "update themselves on every run"},
        {"a key the installer's launcher does not trust",
         {"[signing] key = other.pem"},
         1,
         "the launcher this release ships would refuse this manifest: the signature does not "
         "verify"},
        {"an expiry in the past",
         {"-[signing] expires_in", "[signing] expires_at = 2020-01-01T00:00:00Z"},
         1,
         "expir"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ChildResult refused = publish({"release", describe("2.0", {}, c.extra).string()});
        EXPECT_EQ(refused.exitStatus, c.status) << refused.standardOutput << refused.standardError;
        EXPECT_NE((refused.standardOutput + refused.standardError).find(c.says), std::string::npos)
            << refused.standardOutput << refused.standardError;
        if (c.status == 1) { // a step's refusal, named on standard error with its own words
            EXPECT_NE(refused.standardError.find("launcher-publish release: refused at its "),
                      std::string::npos)
                << refused.standardError;
        }
        EXPECT_FALSE(fs::exists(folder / "out" / "2.0"));
        EXPECT_FALSE(scratchLeft());
    }
    fs::create_directories(folder / "out" / "2.0");
    writeFile(folder / "out" / "2.0" / "kept.txt", "another release's file");
    const ChildResult taken = publish({"release", describe("2.0").string()});
    EXPECT_EQ(taken.exitStatus, 1);
    EXPECT_NE(taken.standardError.find("is not an empty folder"), std::string::npos);
    EXPECT_EQ(readFile(folder / "out" / "2.0" / "kept.txt"), "another release's file");
}
