// The mistakes that reach every player unless the tool refuses them: manifest writes nothing and
// says what players would suffer; verify reports the same; both in JSON too.
#include "tests/support/http_test_server.h"
#include "tests/tools/signing_fixture.h"
#include "update/release/sha256_stream.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <mutex>

namespace fs = std::filesystem;

namespace {

// The manifest players fetch now, served on loopback.
struct LiveManifest {
    explicit LiveManifest(const std::string& text) {
        http.server().Get("/LatestVersion.ini",
                          [text](const httplib::Request&, httplib::Response& answer) {
                              answer.set_content(text, "text/plain");
                          });
        http.start();
    }
    std::string url() const { return http.url("/LatestVersion.ini"); }
    HttpTestServer http;
};

struct Mistake {
    std::string what;
    std::vector<std::string> options; // after the five keys; --live-manifest is added
    std::string line;                 // empty: the manifest is written
};

} // namespace

// The live manifest is release 1.0 with serial 7; each case publishes after it.
TEST_F(SigningCommands, ManifestRefusesWhatEveryPlayerWouldSuffer) {
    ASSERT_EQ(writeManifest(signedOptions("7")).exitStatus, 0);
    const LiveManifest live(readFile(manifest));
    const fs::path other = folder / "other.zip";
    writeFile(folder / "staging" / "Game.app" / "Contents" / "extra.txt", "new content\n");
    ASSERT_EQ(pack(other).exitStatus, 0);
    const std::vector<std::string> keyOnly = {"--serial", "8", "--sign-with", key.string()};
    const std::vector<Mistake> cases = {
        {"signed without the content archive",
         {"--launcher-archive", installer.string(), "--serial", "8", "--sign-with", key.string()},
         "signed without ApplicationSha256 and ApplicationIndexSha256 (--application-archive): a "
         "launcher with releaseSigningPublicKey refuses every content archive"},
        {"signed without the installer",
         {"--application-archive", game.string(), "--serial", "8", "--sign-with", key.string()},
         "signed without LauncherInstallerSha256 (--launcher-archive): a launcher with "
         "releaseSigningPublicKey refuses every installer of itself"},
        {"serial below the live one", signedOptions("6"),
         "ManifestSerial 6 is below the live manifest's 7: every launcher that took the live one "
         "refuses this manifest"},
        {"serial of the live one", signedOptions("7"),
         "ManifestSerial 7 is the live manifest's own"},
        {"live version with another archive",
         {"--application-archive", other.string(), "--launcher-archive", installer.string(),
          "--serial", "8", "--sign-with", key.string()},
         "ApplicationVersion 1.0 is the live manifest's, but ApplicationSha256 differs: players "
         "who installed 1.0 never get this content"},
        {"the live release signed again", signedOptions("8"), ""},
        {"unsigned after a signed one",
         {},
         "ManifestSerial is missing or not a number while the live manifest has 7: every "
         "launcher that checks signatures refuses this manifest"},
    };
    for (const Mistake& mistake : cases) {
        SCOPED_TRACE(mistake.what);
        fs::remove(manifest);
        std::vector<std::string> options = mistake.options;
        options.insert(options.end(), {"--live-manifest", live.url()});
        const ChildResult result = writeManifest(options);
        if (mistake.line.empty()) {
            EXPECT_EQ(result.exitStatus, 0) << result.standardError;
            EXPECT_TRUE(fs::exists(manifest));
            continue;
        }
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_NE(result.standardError.find("launcher-publish manifest: " + mistake.line),
                  std::string::npos)
            << result.standardError;
        EXPECT_FALSE(fs::exists(manifest));
    }
    // Without the live manifest those two checks cannot run, and a note says so.
    const ChildResult unchecked = writeManifest(signedOptions("6"));
    EXPECT_EQ(unchecked.exitStatus, 0) << unchecked.standardError;
    EXPECT_NE(unchecked.standardError.find("note: no --live-manifest given"), std::string::npos);
    EXPECT_EQ(writeManifest({"--live-manifest", "http://127.0.0.1:1/LatestVersion.ini"}).exitStatus,
              1);
}

// verify reports the same mistakes in a manifest that was written some other way, and its JSON
// carries the same lines and verdict as its text.
TEST_F(SigningCommands, VerifyReportsThePublishingMistakesInTextAndJson) {
    ASSERT_EQ(writeManifest(signedOptions("7")).exitStatus, 0);
    const LiveManifest live(readFile(manifest));
    struct Case {
        std::string what;
        std::vector<std::string> manifestOptions;
        std::string line; // empty: every check passes
    };
    const std::vector<Case> cases = {
        {"a good release", signedOptions("8"), ""},
        {"signed by hand without hashes",
         {"--serial", "8"},
         "archive hashes: FAILED, signed without ApplicationSha256 and ApplicationIndexSha256"},
        {"a lower serial",
         {"--application-archive", game.string(), "--launcher-archive", installer.string(),
          "--serial", "5"},
         "live serial: FAILED, ManifestSerial 5 is below the live manifest's 7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Written unsigned (no live manifest to refuse it), then signed as a studio may by hand.
        ASSERT_EQ(writeManifest(c.manifestOptions).exitStatus, 0);
        ASSERT_EQ(publish({"sign", "--sign-with", key.string(), manifest.string()}).exitStatus, 0);
        const ChildResult text = verify({"--live-manifest", live.url()});
        EXPECT_EQ(text.exitStatus, c.line.empty() ? 0 : 1) << text.standardOutput;
        EXPECT_TRUE(c.line.empty() || text.standardOutput.find("\n" + c.line) != std::string::npos)
            << text.standardOutput;
        EXPECT_TRUE(says(text, "signed by " + publicKey + ": yes")) << text.standardOutput;

        const ChildResult json = verify({"--live-manifest", live.url(), "--json"});
        EXPECT_EQ(json.exitStatus, text.exitStatus);
        const auto parsed = nlohmann::json::parse(json.standardOutput);
        EXPECT_EQ(parsed.at("passed").get<bool>(), c.line.empty());
        std::string lines;
        for (const auto& check : parsed.at("checks")) {
            const std::string result = check.at("result");
            const std::string detail = check.at("detail");
            lines += check.at("name").get<std::string>() + ": " +
                     (result == "ok"       ? "ok" + (detail.empty() ? "" : ", " + detail)
                      : result == "failed" ? "FAILED, " + detail
                                           : detail) +
                     "\n";
        }
        EXPECT_EQ(lines, text.standardOutput);
    }
}

namespace {

// A launcher installer for the game "Game" made by the launcher command with extra options.
std::filesystem::path studioInstaller(const fs::path& folder, const std::string& name,
                                      const std::vector<std::string>& extra) {
    const fs::path installer = folder / (name + ".zip");
    std::vector<std::string> arguments = {"launcher",
                                          "--bundle",
                                          LAUNCHER_BUNDLE_DIR,
                                          "--output-folder",
                                          (folder / name).string(),
                                          "--name",
                                          "Game",
                                          "--endpoint",
                                          "http://127.0.0.1/LatestVersion.ini",
                                          "--company",
                                          "Q",
                                          "--app-folder",
                                          "G",
                                          "--installer",
                                          installer.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const ChildResult made = publish(arguments);
    EXPECT_EQ(made.exitStatus, 0) << made.standardError;
    return installer;
}

} // namespace

// The launcher a release ships must take its manifest, or players who take the self-update
// update themselves on every run or are stuck: manifest writes nothing, verify fails the line.
TEST_F(SigningCommands, TheLauncherAReleaseShipsMustTakeItsManifest) {
    const fs::path second = folder / "second.pem";
    const std::string secondKey = makeKey(second);
    const fs::path keyless =
        studioInstaller(folder.path(), "keyless", {"--launcher-version", "1.0"});
    const fs::path oneKey = studioInstaller(
        folder.path(), "one-key", {"--launcher-version", "1.0", "--public-key", publicKey});
    const fs::path twoKeys =
        studioInstaller(folder.path(), "two-keys",
                        {"--launcher-version", "1.0", "--public-key", publicKey, "--public-key",
                         secondKey, "--threshold", "2"});
    // The game's bundle changed, so that it is no copy of the content archive.
    const fs::path unconfigured = folder / "unconfigured.zip";
    writeFile(folder / "staging" / "Game.app" / "Contents" / "extra.txt", "installer\n");
    ASSERT_EQ(pack(unconfigured).exitStatus, 0);
    const std::string stuck = "the launcher this release ships would refuse this manifest: ";
    struct Case {
        std::string what;
        fs::path installer;
        std::string launcherVersion; // the manifest's
        std::vector<fs::path> signers;
        std::string check; // the verify line's name; empty: skipped
        std::string line;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {"launcherVersion 1.0, LauncherVersion 1.1",
         keyless,
         "1.1",
         {key},
         "installer version",
         "Game.app/Contents/Resources/config.plist names launcherVersion \"1.0\" but the "
         "manifest's LauncherVersion is \"1.1\": players' launchers would see another version "
         "after every self-update and update themselves on every run"},
        {"the same launcher version, signed for a launcher without keys",
         keyless,
         "1.0",
         {key},
         "installer version",
         ""},
        {"threshold 2, signed by one of the keys",
         twoKeys,
         "1.0",
         {key},
         "installer trust",
         stuck + "1 of the 2 required signatures verify; players who take the self-update would "
                 "be stuck on the installed game"},
        {"threshold 2, signed by both keys", twoKeys, "1.0", {key, second}, "installer trust", ""},
        {"a key, an unsigned manifest", oneKey, "1.0", {}, "installer trust", stuck},
        {"an installer without config.plist", unconfigured, "1.1", {key}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(manifest);
        launcherVersion = c.launcherVersion;
        std::vector<std::string> options = {
            "--application-archive", game.string(), "--launcher-archive",
            c.installer.string(),    "--serial",    "7"};
        for (const fs::path& signer : c.signers) {
            options.insert(options.end(), {"--sign-with", signer.string()});
        }
        const ChildResult written = writeManifest(options);
        EXPECT_EQ(written.exitStatus, c.line.empty() ? 0 : 1) << written.standardError;
        EXPECT_NE(written.standardError.find("launcher-publish manifest: " + c.line),
                  std::string::npos)
            << written.standardError;
        EXPECT_EQ(fs::exists(manifest), c.line.empty());
        const std::string skipped = "LauncherVersion and the signatures were not checked "
                                    "against the launcher in " +
                                    c.installer.string() +
                                    ": it holds no <appDisplayName>.app/Contents/Resources/"
                                    "config.plist";
        EXPECT_EQ(c.check.empty(),
                  written.standardError.find("note: " + skipped + "\n") != std::string::npos)
            << written.standardError;

        // verify, given a manifest written as refused: over the installer without config.plist,
        // then naming this installer's hash and signed by the case's signers.
        ASSERT_EQ(writeManifest({"--application-archive", game.string(), "--launcher-archive",
                                 installer.string(), "--serial", "7"})
                      .exitStatus,
                  0);
        std::string text = readFile(manifest);
        const std::size_t hash = text.find("LauncherInstallerSha256=") + 24;
        text.replace(hash, 64, *sha256FileHex(c.installer.string()));
        writeFile(manifest, text);
        std::vector<std::string> sign = {"sign"};
        for (const fs::path& signer : c.signers) {
            sign.insert(sign.end(), {"--sign-with", signer.string()});
        }
        sign.push_back(manifest.string());
        if (!c.signers.empty()) {
            ASSERT_EQ(publish(sign).exitStatus, 0);
        }
        const ChildResult verified =
            publish({"verify", "--public-key", publicKey, manifest.string(), game.string(),
                     c.installer.string()});
        if (c.check.empty()) {
            EXPECT_TRUE(says(verified, "installer checks: skipped, " + skipped))
                << verified.standardOutput;
            continue;
        }
        EXPECT_EQ(verified.exitStatus, c.line.empty() ? 0 : 1) << verified.standardOutput;
        EXPECT_NE(verified.standardOutput.find("\n" + c.check +
                                               (c.line.empty() ? ": ok\n" : ": FAILED, " + c.line)),
                  std::string::npos)
            << verified.standardOutput;
    }
    // Both helps say so; verify's --online takes a --threshold for its own check.
    const std::pair<std::string, std::string> helps[] = {
        {"manifest", "when the launcher in it would not\ntake it"},
        {"verify", "--online MANIFEST_URL [--public-key KEY ...]\n" + std::string(31, ' ') +
                       "[--threshold N]"}};
    for (const auto& [command, part] : helps) {
        EXPECT_NE(publish({command, "--help"}).standardOutput.find(part), std::string::npos)
            << command;
    }
}
