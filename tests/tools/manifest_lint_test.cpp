#include "tests/support/http_test_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/publish_tool.h"
#include "update/manifest_check.h"
#include "update/release/rollout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ini.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::string kClean = "ApplicationVersion=1.1\n"
                           "ApplicationDownloadUrl=http://127.0.0.1:8080/Drift%20Moor.zip\n"
                           "ApplicationExecutablePrefix=Quillmere-\n"
                           "; the launcher itself\n"
                           "LauncherVersion=2.0\n"
                           "LauncherInstallerDownloadUrl=http://127.0.0.1:8080/Launcher.zip\n";

// The values lint says the launcher reads, in key order.
std::vector<std::string> lintReading(const std::string& output) {
    std::vector<std::string> values;
    for (const char* key :
         {"ApplicationVersion", "ApplicationDownloadUrl", "ApplicationExecutablePrefix",
          "LauncherVersion", "LauncherInstallerDownloadUrl"}) {
        const std::string marker = std::string("\n  ") + key + " = \"";
        const auto start = output.find(marker);
        const auto end = output.find("\"\n", start + marker.size());
        values.push_back(start == std::string::npos
                             ? "<absent>"
                             : output.substr(start + marker.size(), end - start - marker.size()));
    }
    return values;
}

// The launcher's own reading: its parser call and key handler on the text up to its first NUL.
std::vector<std::string> launcherReading(const std::string& text) {
    LatestVersionInfo info;
    ini_parse_string(text.c_str(), latestVersionKeyHandler, &info);
    return {info.ApplicationVersion, info.ApplicationDownloadUrl, info.ApplicationExecutablePrefix,
            info.LauncherVersion, info.LauncherInstallerDownloadUrl};
}

struct Trap {
    std::string what;
    std::string text;
    std::string expected; // "<line>: <start of the message>" or ": <message>" for the file
};

// Each trap is the clean manifest with one change.
std::vector<Trap> traps() {
    const std::string longUrl = "http://127.0.0.1:8080/" + std::string(200, 'a') + ".zip";
    return {
        {"recognised key under a named section", kClean + "[Beta]\nApplicationVersion=1.2\n",
         ":8: ApplicationVersion is under the section [Beta]"},
        {"key in another letter case",
         "applicationversion=1.1\n" + kClean.substr(kClean.find('\n') + 1),
         ":1: \"applicationversion\" is not ApplicationVersion"},
        {"key given twice", kClean + "ApplicationVersion=1.0\n",
         ":7: ApplicationVersion is given again (first on line 1); the launcher keeps the last "
         "value, \"1.0\""},
        {"line longer than 199 bytes",
         "ApplicationVersion=1.1\nApplicationDownloadUrl=" + longUrl + "\n" +
             kClean.substr(kClean.find("ApplicationExecutablePrefix")),
         ":2: the line is 249 bytes long; the launcher cuts it after 199 bytes and reads the rest "
         "as further lines: \"" +
             std::string(46, 'a') + ".zip\""},
        {"indented line after a value",
         "ApplicationVersion=1.1\n  LauncherVersion=2.0\n" +
             kClean.substr(kClean.find("ApplicationDownloadUrl")),
         ":2: the line is indented, so the launcher reads it as a new value for "
         "ApplicationVersion (line 1): \"LauncherVersion=2.0\""},
        {"line without a separator", kClean + "Drift Moor release 1.1\n",
         ":7: neither \"=\" nor \":\" on the line"},
        {"comment before any separator", kClean + "Notes ; = none\n",
         ":7: \" ;\" starts a comment before any \"=\" or \":\""},
        {"header without its bracket", kClean + "[Beta\n", ":7: a section header without \"]\""},
        {"missing key", kClean.substr(0, kClean.find("LauncherInstallerDownloadUrl")),
         ": LauncherInstallerDownloadUrl is missing at the top level"},
        {"inline comment in a value",
         "ApplicationVersion=1.1 ; autumn release\n" + kClean.substr(kClean.find('\n') + 1),
         ":1: the value of ApplicationVersion ends at the \" ;\": the launcher reads \"1.1\" and "
         "drops \"; autumn release\""},
        {"trailing blanks in a version",
         "ApplicationVersion=1.1 \t\n" + kClean.substr(kClean.find('\n') + 1),
         ":1: blanks at the end of ApplicationVersion are dropped: the launcher reads \"1.1\""},
        {"trailing Unicode blank in a version",
         "ApplicationVersion=1.1\xC2\xA0\n" + kClean.substr(kClean.find('\n') + 1),
         ":1: ApplicationVersion ends with an invisible Unicode blank"},
        {"trailing blank in the prefix",
         kClean.substr(0, kClean.find("Quillmere-") + 10) + " " +
             kClean.substr(kClean.find("Quillmere-") + 10),
         ":3: blanks at the end of ApplicationExecutablePrefix are dropped"},
        {"empty version", "ApplicationVersion=\n" + kClean.substr(kClean.find('\n') + 1),
         ":1: ApplicationVersion is empty"},
        {"NUL byte", kClean.substr(0, 30) + std::string(1, '\0') + kClean.substr(30),
         ":2: a NUL byte: the launcher reads nothing from here on"},
        {"mirror that is no HTTP URL",
         kClean +
             "ApplicationDownloadMirrorUrls=https://cdn.example/g.zip ftp://old.example/g.zip\n",
         ":7: the mirror \"ftp://old.example/g.zip\" is not an http:// or https:// URL; the "
         "launcher leaves it out"},
        {"mirror list under a named section",
         kClean + "[Beta]\nApplicationDownloadMirrorUrls=https://cdn.example/g.zip\n",
         ":8: ApplicationDownloadMirrorUrls is under the section [Beta]"},
        {"mirror list in another letter case",
         kClean + "ApplicationDownloadMirrorURLs=https://cdn.example/g.zip\n",
         ":7: \"ApplicationDownloadMirrorURLs\" is not ApplicationDownloadMirrorUrls"},
        {"mirror list given twice",
         kClean + "ApplicationDownloadMirrorUrls=https://a.example/g.zip\n"
                  "ApplicationDownloadMirrorUrls=https://b.example/g.zip\n",
         ":8: ApplicationDownloadMirrorUrls is given again (first on line 7); the launcher keeps "
         "the last value, \"https://b.example/g.zip\""},
        {"mirror list cut by a comment",
         kClean +
             "ApplicationDownloadMirrorUrls=https://a.example/g.zip ;https://b.example/g.zip\n",
         ":7: the value of ApplicationDownloadMirrorUrls ends at the \" ;\""},
        {"rollout that is no whole number", kClean + "RolloutPercent=5O\n",
         ":7: RolloutPercent \"5O\" is not a whole number from 0 to 100; the launcher takes it "
         "as 0"},
        {"rollout above 100", kClean + "RolloutPercent=110\n",
         ":7: RolloutPercent \"110\" is not a whole number from 0 to 100"},
        {"rollout replaced by an indented line", kClean + "RolloutPercent=10\n  -5\n",
         ":7: RolloutPercent \"-5\" is not a whole number from 0 to 100"},
        {"rollout in another letter case", kClean + "Rolloutpercent=10\n",
         ":7: \"Rolloutpercent\" is not RolloutPercent"},
        {"rollout under a named section", kClean + "[Beta]\nRolloutPercent=10\n",
         ":8: RolloutPercent is under the section [Beta]"},
        {"rollout given twice", kClean + "RolloutPercent=10\nRolloutPercent=100\n",
         ":8: RolloutPercent is given again (first on line 7); the launcher keeps the last value, "
         "\"100\""},
    };
}

class ManifestLintTest : public testing::Test {
  protected:
    ChildResult lint(const std::string& text) {
        writeFile(folder / "LatestVersion.ini", text);
        return publish({"lint", (folder / "LatestVersion.ini").string()});
    }

    ChildResult writeManifest(const std::string& applicationUrl, const std::string& launcherUrl) {
        return publish({"manifest", "--application-version", "1.1", "--application-url",
                        applicationUrl, "--executable-prefix", "Quillmere-", "--launcher-version",
                        "2.0", "--launcher-url", launcherUrl, "--output",
                        (folder / "LatestVersion.ini").string()});
    }

    // manifest for release 1.1 with both archives at url, no prefix, into the folder; further
    // options go after these.
    std::vector<std::string> manifestArguments(const std::string& url) const {
        return {"manifest",
                "--application-version",
                "1.1",
                "--application-url",
                url,
                "--executable-prefix",
                "",
                "--launcher-version",
                "2.0",
                "--launcher-url",
                url,
                "--output",
                (folder / "LatestVersion.ini").string()};
    }

    // Runs manifestArguments(url) and options: the text written when exitStatus is 0; else
    // none, the refusal on standard error and no file written.
    std::optional<std::string> writeOrRefuse(const std::string& url,
                                             const std::vector<std::string>& options,
                                             int exitStatus, const std::string& refusal) {
        fs::remove(folder / "LatestVersion.ini");
        std::vector<std::string> arguments = manifestArguments(url);
        arguments.insert(arguments.end(), options.begin(), options.end());
        const ChildResult result = publish(arguments);
        EXPECT_EQ(result.exitStatus, exitStatus) << result.standardError;
        if (exitStatus == 0) {
            return readFile(folder / "LatestVersion.ini");
        }
        EXPECT_NE(result.standardError.find(refusal), std::string::npos) << result.standardError;
        EXPECT_FALSE(fs::exists(folder / "LatestVersion.ini"));
        return std::nullopt;
    }

    TempFolder folder;
};

} // namespace

TEST_F(ManifestLintTest, RefusesValuesTheLauncherWouldReadOtherwise) {
    const std::string url = "http://127.0.0.1:8080/Game.zip";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--application-version", "1.1 ; autumn"}, "where the launcher ends the value"},
        {{"--application-version", " 1.1"}, "starts or ends with a blank"},
        {{"--launcher-version", "2.0\n"}, "holds a line break"},
        {{"--launcher-version", ""}, "--launcher-version is empty"},
        {{"--application-url", url + std::string(200, 'x')},
         "the launcher reads at most 199 (at most 176 bytes for this value)"},
    };
    for (const auto& [change, message] : cases) {
        SCOPED_TRACE(message);
        std::map<std::string, std::string> values = {{"--application-version", "1.1"},
                                                     {"--application-url", url},
                                                     {"--executable-prefix", ""},
                                                     {"--launcher-version", "2.0"},
                                                     {"--launcher-url", url}};
        values[change[0]] = change[1];
        std::vector<std::string> arguments = {"manifest", "--output",
                                              (folder / "LatestVersion.ini").string()};
        for (const auto& [option, value] : values) {
            arguments.insert(arguments.end(), {option, value});
        }
        const ChildResult result = publish(arguments);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_NE(result.standardError.find(message), std::string::npos) << result.standardError;
        EXPECT_FALSE(fs::exists(folder / "LatestVersion.ini"));
    }
    const ChildResult result = publish({"manifest", "--application-version", "1.1"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find("missing --application-url, --executable-prefix"),
              std::string::npos);
}

TEST_F(ManifestLintTest, PassesACleanManifest) {
    const ChildResult result = lint(kClean);
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput;
    EXPECT_NE(result.standardOutput.find("the launcher reads it as written"), std::string::npos);
    EXPECT_EQ(lintReading(result.standardOutput), launcherReading(kClean));
    // CR LF line ends and a byte-order mark are read like plain LF.
    std::string crlf = "\xEF\xBB\xBF";
    for (char c : kClean) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_EQ(lint(crlf).exitStatus, 0);
}

TEST_F(ManifestLintTest, ExplainsEachTrapWhereItIsAndAgreesWithTheLauncher) {
    for (const auto& trap : traps()) {
        SCOPED_TRACE(trap.what);
        const ChildResult result = lint(trap.text);
        EXPECT_EQ(result.exitStatus, 1) << result.standardOutput << result.standardError;
        EXPECT_NE(result.standardOutput.find(trap.expected), std::string::npos)
            << result.standardOutput;
        EXPECT_EQ(lintReading(result.standardOutput), launcherReading(trap.text));
    }
}

// --mirror-url: written in the order given as one line the launcher reads back, or refused
// with a reason when the launcher would not fetch from it.
TEST_F(ManifestLintTest, MirrorUrlsAreWrittenInOrderOrRefused) {
    const std::string url = "http://127.0.0.1:8080/Game.zip";
    const std::string longest = "https://" + std::string(199 - 30 - 8, 'm');
    struct Case {
        std::vector<std::string> mirrors;
        int exitStatus;
        std::string expected; // the written line, or the start of the refusal
    };
    const std::vector<Case> cases = {
        {{}, 0, ""},
        {{"https://cdn.example/Game.zip", "http://10.0.0.2/Game.zip"},
         0,
         "\nApplicationDownloadMirrorUrls=https://cdn.example/Game.zip "
         "http://10.0.0.2/Game.zip\n"},
        {{longest}, 0, "\nApplicationDownloadMirrorUrls=" + longest + "\n"},
        {{"ftp://cdn.example/Game.zip"},
         1,
         "--mirror-url \"ftp://cdn.example/Game.zip\" is not an http:// or https:// URL"},
        {{"file:///srv/Game.zip"}, 1, "is not an http:// or https:// URL"},
        {{"cdn.example/Game.zip"}, 1, "is not an http:// or https:// URL"},
        {{"https://a.example/x.zip https://b.example/x.zip"}, 1, "holds a blank or a line break"},
        {{url}, 1, "is the same as ApplicationDownloadUrl"},
        {{"https://a.example/x.zip", "https://a.example/x.zip"}, 1, "is named before in the list"},
        {{longest + "m"}, 1, "line 200 bytes long; the launcher reads at most 199 (at most 169"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        std::vector<std::string> options;
        for (const std::string& mirror : c.mirrors) {
            options.insert(options.end(), {"--mirror-url", mirror});
        }
        const auto written = writeOrRefuse(url, options, c.exitStatus, c.expected);
        if (!written) {
            continue;
        }
        const std::string& text = *written;
        EXPECT_EQ(text.find("ApplicationDownloadMirrorUrls") != std::string::npos,
                  !c.mirrors.empty())
            << text;
        EXPECT_NE(text.find(c.expected), std::string::npos) << text;
        // Linted clean, each mirror noted as a place after ApplicationDownloadUrl.
        const ChildResult linted = publish({"lint", (folder / "LatestVersion.ini").string()});
        EXPECT_EQ(linted.exitStatus, 0) << linted.standardOutput;
        for (std::size_t i = 0; i < c.mirrors.size(); ++i) {
            EXPECT_NE(linted.standardOutput.find(":6: note: the mirror \"" + c.mirrors[i] +
                                                 "\" is place " + std::to_string(i + 2) +
                                                 " of the content archive"),
                      std::string::npos)
                << linted.standardOutput;
        }
    }
}

// --rollout: written as the launcher reads it and noted by lint, or refused as a usage error.
TEST_F(ManifestLintTest, ARolloutIsWrittenAsAWholeNumberFrom0To100AndNotedOrRefused) {
    const std::string url = "http://127.0.0.1:8080/Game.zip";
    struct Case {
        std::string rollout; // empty: no --rollout at all
        int exitStatus;
        std::string expected; // the lint line, or the refusal
    };
    const std::vector<Case> cases = {
        {"", 0, "Rollout: rolled out to all players (no RolloutPercent)"},
        {"0", 0, ":6: note: the release is rolled out to 0 % of players who have a game installed"},
        {"10", 0, ":6: note: the release is rolled out to 10 % of players"},
        {"100", 0, ":6: note: the release is rolled out to 100 % of players"},
        {"101", 2, "--rollout \"101\" is not a whole number from 0 to 100"},
        {"-1", 2, "--rollout \"-1\" is not a whole number from 0 to 100"},
        {"5O", 2, "--rollout \"5O\" is not a whole number from 0 to 100"},
        {"12.5", 2, "is not a whole number from 0 to 100"},
        {" 7", 2, "is not a whole number from 0 to 100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rollout);
        const std::vector<std::string> options =
            c.rollout.empty() ? std::vector<std::string>{}
                              : std::vector<std::string>{"--rollout", c.rollout};
        const auto written = writeOrRefuse(url, options, c.exitStatus, c.expected);
        if (!written) {
            continue;
        }
        const std::string& text = *written;
        EXPECT_EQ(text.find("RolloutPercent") == std::string::npos, c.rollout.empty()) << text;
        EXPECT_EQ(readRollout(text).percent, c.rollout.empty() ? 100 : std::stoi(c.rollout));
        const ChildResult linted = publish({"lint", (folder / "LatestVersion.ini").string()});
        EXPECT_EQ(linted.exitStatus, 0) << linted.standardOutput;
        EXPECT_NE(linted.standardOutput.find(c.expected), std::string::npos)
            << linted.standardOutput;
    }
}

TEST_F(ManifestLintTest, ReportsAnUnknownKeyOnlyAsANote) {
    const ChildResult result = lint(kClean + "ReleaseNotes=http://example.com/notes\n");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.standardOutput.find(":7: note: \"ReleaseNotes\" is not a key"),
              std::string::npos);
}

TEST_F(ManifestLintTest, TheKeysACheckingLauncherReadsAreNoUnknownKeys) {
    const ChildResult result =
        lint(kClean + "ApplicationSha256=" + std::string(64, 'a') + "\nApplicationIndexSha256=" +
             std::string(64, 'b') + "\nLauncherInstallerSha256=" + std::string(64, 'c') +
             "\nManifestSerial=3\nManifestExpires=2099-01-01T00:00:00Z\nManifestSignature=x\n");
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput;
    EXPECT_EQ(result.standardOutput.find("is not a key"), std::string::npos)
        << result.standardOutput;
}

TEST_F(ManifestLintTest, WhatCannotBeReadIsNeverClean) {
    ChildResult result = publish({"lint", (folder / "missing.ini").string()});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find("missing.ini does not exist"), std::string::npos);
    // A device would never end and a folder has no text: both are refused before reading.
    for (const std::string path : {std::string("/dev/zero"), folder.str()}) {
        result = publish({"lint", path});
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_NE(result.standardError.find(path + " is not a regular file"), std::string::npos);
    }
    writeFile(folder / "huge.ini", std::string((1 << 20) + 1, ';'));
    result = publish({"lint", (folder / "huge.ini").string()});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find("that is no manifest"), std::string::npos);
}

// Served over HTTP the way the launcher fetches it: redirects followed, error pages parsed.
TEST_F(ManifestLintTest, LintsAUrlLikeTheLauncherFetchesIt) {
    HttpTestServer http;
    http.server().Get("/LatestVersion.ini", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kClean, "text/plain");
    });
    http.server().Get("/old", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/LatestVersion.ini");
    });
    http.start();
    ChildResult result = publish({"lint", http.url("/old")});
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput << result.standardError;
    EXPECT_EQ(lintReading(result.standardOutput), launcherReading(kClean));

    result = publish({"lint", http.url("/gone")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardOutput.find("the server answered with HTTP status 404"),
              std::string::npos);

    result = publish({"lint", "http://127.0.0.1:1/LatestVersion.ini"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find("cannot fetch"), std::string::npos);
}

// --json carries the same findings and verdict as the text, for the clean manifest and each trap.
TEST_F(ManifestLintTest, JsonSaysWhatTheTextSays) {
    std::vector<Trap> cases = traps();
    cases.push_back({"clean", kClean, ""});
    const std::string path = (folder / "LatestVersion.ini").string();
    for (const auto& trap : cases) {
        SCOPED_TRACE(trap.what);
        const ChildResult text = lint(trap.text);
        const ChildResult quiet = publish({"lint", "--quiet", path});
        const ChildResult json = publish({"lint", "--json", path});
        EXPECT_EQ(json.exitStatus, text.exitStatus);
        const auto parsed = nlohmann::json::parse(json.standardOutput);
        EXPECT_EQ(parsed.at("passed").get<bool>(), text.exitStatus == 0);
        std::string findings;
        for (const auto& finding : parsed.at("findings")) {
            const std::size_t line = finding.at("line");
            findings += path + (line == 0 ? "" : ":" + std::to_string(line)) + ": " +
                        (finding.at("kind") == "note" ? "note: " : "") +
                        finding.at("message").get<std::string>() + "\n";
        }
        EXPECT_EQ(findings, quiet.standardOutput);
        EXPECT_EQ(parsed.at("reading").at("ApplicationVersion").get<std::string>(),
                  lintReading(text.standardOutput)[0]);
    }
    const ChildResult missing = publish({"lint", "--json", (folder / "missing.ini").string()});
    EXPECT_EQ(missing.exitStatus, 2);
    EXPECT_FALSE(nlohmann::json::parse(missing.standardOutput).at("passed").get<bool>());
}

// The launcher reads at most 64 KiB of a manifest and refuses a larger one; lint reads no more.
// Past the launcher's limit the server holds back the rest of the body until lint has ended, so
// lint cannot have read more than the bytes of the case.
TEST_F(ManifestLintTest, LintReadsNoMoreOfAUrlThanTheLauncher) {
    std::mutex heldMutex;
    std::condition_variable heldChanged;
    bool released = false;
    std::string body;
    HttpTestServer http;
    http.server().Get("/LatestVersion.ini", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(
            "text/plain", [&](std::size_t offset, httplib::DataSink& sink) {
                std::unique_lock lock(heldMutex);
                if (offset == 0) {
                    return sink.write(body.data(), body.size());
                }
                heldChanged.wait(lock, [&] { return released || body.size() <= 65536; });
                sink.done();
                return true;
            });
    });
    http.start();
    for (const auto& [bytes, exitStatus] : {std::pair{65536u, 0}, {65537u, 2}, {1u << 20, 2}}) {
        SCOPED_TRACE(bytes);
        {
            // The answer of the case before may still be finishing on the server's thread.
            std::lock_guard lock(heldMutex);
            body = kClean;
            while (body.size() < bytes) {
                body += "; " + std::string(100, '-') + "\n";
            }
            body.resize(bytes);
            body.back() = '\n';
            released = false;
        }
        const ChildResult result = publish({"lint", http.url("/LatestVersion.ini")});
        {
            std::lock_guard lock(heldMutex);
            released = true;
        }
        heldChanged.notify_all();
        EXPECT_EQ(result.exitStatus, exitStatus) << result.standardError;
        if (exitStatus != 0) {
            EXPECT_NE(result.standardError.find("is larger than 65536 bytes; the launcher stops "
                                                "reading there and takes no manifest from it"),
                      std::string::npos)
                << result.standardError;
        }
    }
}

// Up to the longest URLs whose line fits in 199 bytes, what manifest writes lints clean and
// the launcher's fetch reads back exactly.
TEST_F(ManifestLintTest, WrittenManifestIsReadAsWrittenUpToTheLongestUrl) {
    const std::string base = "http://127.0.0.1:8080/";
    const std::size_t longestApplicationUrl = 199 - std::string("ApplicationDownloadUrl=").size();
    const std::size_t longestLauncherUrl =
        199 - std::string("LauncherInstallerDownloadUrl=").size();
    HttpTestServer http;
    std::mutex servedMutex;
    std::string served;
    http.server().Get("/LatestVersion.ini", [&](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(servedMutex);
        res.set_content(served, "text/plain");
    });
    http.start();
    LogCapture log(folder.str()); // the launcher's fetch writes its run log

    for (const std::size_t extra : {0, 1, 2}) {
        const std::string applicationUrl =
            base + std::string(longestApplicationUrl - base.size() - extra, 'g');
        const std::string launcherUrl =
            base + std::string(longestLauncherUrl - base.size() - extra, 'l');
        SCOPED_TRACE(applicationUrl.size());
        const ChildResult written = writeManifest(applicationUrl, launcherUrl);
        ASSERT_EQ(written.exitStatus, 0) << written.standardError;
        const ChildResult linted = publish({"lint", (folder / "LatestVersion.ini").string()});
        EXPECT_EQ(linted.exitStatus, 0) << linted.standardOutput;

        {
            std::lock_guard lock(servedMutex);
            served = readFile(folder / "LatestVersion.ini");
        }
        LatestVersionInfo info;
        ASSERT_EQ(fetchLatestVersionInfo(info, http.url("/LatestVersion.ini"), nullptr, {}), 0);
        EXPECT_EQ(info.ApplicationVersion, "1.1");
        EXPECT_EQ(info.ApplicationDownloadUrl, applicationUrl);
        EXPECT_EQ(info.ApplicationExecutablePrefix, "Quillmere-");
        EXPECT_EQ(info.LauncherVersion, "2.0");
        EXPECT_EQ(info.LauncherInstallerDownloadUrl, launcherUrl);
    }
}
