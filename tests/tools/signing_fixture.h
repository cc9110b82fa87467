#pragma once
// A signing key, a game packed by launcher-publish (with its index and a link) and the same
// bundle packed as the launcher's installer, for the tests of manifest, sign, verify and lint.
#include "tests/support/temp_folder.h"
#include "tests/tools/publish_tool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

class SigningCommands : public testing::Test {
  protected:
    void SetUp() override {
        const ChildResult made = publish({"keygen", "--output", key.string()});
        ASSERT_EQ(made.exitStatus, 0) << made.standardError;
        publicKey = made.standardOutput.substr(0, made.standardOutput.find('\n'));
        ASSERT_EQ(publish({"bundle", "--executable", SAMPLE_GAME, "--name", "Game", "--version",
                           "1.0", "--output-folder", (folder / "staging").string()})
                      .exitStatus,
                  0);
        std::filesystem::create_symlink("MacOS/sample_game",
                                        folder / "staging" / "Game.app" / "Contents" / "run");
        ASSERT_EQ(pack(game).exitStatus, 0);
        ASSERT_EQ(pack(installer).exitStatus, 0);
    }

    // Makes another key at file; returns its public key as keygen prints it.
    std::string makeKey(const std::filesystem::path& file) {
        const ChildResult made = publish({"keygen", "--output", file.string()});
        EXPECT_EQ(made.exitStatus, 0) << made.standardError;
        return made.standardOutput.substr(0, made.standardOutput.find('\n'));
    }

    ChildResult pack(const std::filesystem::path& archive) {
        return publish(
            {"pack", (folder / "staging" / "Game.app").string(), "--output", archive.string()});
    }

    // Writes the manifest; extra options follow the five keys' options.
    ChildResult writeManifest(const std::vector<std::string>& extra,
                              const std::string& gameUrl = "http://127.0.0.1/game.zip",
                              const std::string& launcherUrl = "http://127.0.0.1/launcher.zip") {
        std::vector<std::string> arguments = {
            "manifest",       "--application-version", "1.0",       "--application-url",
            gameUrl,          "--executable-prefix",   "",          "--launcher-version",
            launcherVersion,  "--launcher-url",        launcherUrl, "--output",
            manifest.string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return publish(arguments);
    }

    std::vector<std::string> signedOptions(const std::string& serial = "7") {
        return {"--application-archive", game.string(), "--launcher-archive",
                installer.string(),      "--serial",    serial,
                "--sign-with",           key.string()};
    }

    ChildResult verify(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = {"verify", "--public-key", publicKey};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(manifest.string());
        arguments.push_back(game.string());
        arguments.push_back(installer.string());
        return publish(arguments);
    }

    TempFolder folder;
    const std::filesystem::path key = folder / "release.pem";
    const std::filesystem::path game = folder / "game.zip";
    const std::filesystem::path installer = folder / "launcher.zip";
    const std::filesystem::path manifest = folder / "LatestVersion.ini";
    std::string publicKey;
    std::string launcherVersion = "1.0"; // the manifest's LauncherVersion
};

// Whether the output holds line as a whole line.
inline bool says(const ChildResult& result, const std::string& line) {
    return result.standardOutput.find(line + "\n") != std::string::npos;
}
