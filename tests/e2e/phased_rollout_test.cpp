// Phased rollouts end to end: RolloutPercent written by launcher-publish, players' data folders
// each with the install number the launcher keeps there, against nginx.
#include "tests/e2e/acceptance_fixture.h"
#include "tests/support/temp_folder.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

constexpr char numberRecord[] = ".launcher-install-number";

class PhasedRollout : public AcceptanceTest {
  protected:
    // Release 1.0 installed in the sandbox's data folder, which players copy; the game quit.
    void installFirstRelease() {
        releaseGame("1.0");
        ASSERT_EQ(runLauncher().exitStatus, 0);
        ASSERT_EQ(gameStarts(1).size(), 1u);
        started.stopAll();
    }

    // Release 1.1 announced at rollout percent (without RolloutPercent when empty); returns the
    // manifest.
    std::string announceUpdate(const std::string& percent) {
        std::vector<std::string> extra;
        if (!percent.empty()) {
            extra = {"--rollout", percent};
        }
        return publishManifest("1.1", publishGame("1.1"), "", "1.0", "/none.zip", extra);
    }

    // Another player, XDG_DATA_HOME of its own: with 1.0 installed (a copy of the sandbox's data
    // folder, without its log) or with nothing.
    fs::path player(const std::string& name, bool withGame) {
        const fs::path home = sandbox.root / "players" / name;
        fs::create_directories(folderOf(home).parent_path());
        if (withGame) {
            fs::copy(dataFolder, folderOf(home),
                     fs::copy_options::recursive | fs::copy_options::copy_symlinks);
            fs::remove(folderOf(home) / "out.log");
        }
        return home;
    }

    static fs::path folderOf(const fs::path& home) { return home / "Test Company" / "Test App"; }

    struct PlayerRun {
        ChildResult result;
        std::vector<std::string> messages; // what this run logged
        std::string started;               // the version of the game it started; "" for none
        bool has(const std::string& message) const {
            return std::find(messages.begin(), messages.end(), message) != messages.end();
        }
        bool mentions(const std::string& text) const {
            return std::any_of(messages.begin(), messages.end(), [&](const std::string& m) {
                return m.find(text) != std::string::npos;
            });
        }
    };

    // Runs the launcher for the player at home; its games are quit again afterwards.
    PlayerRun runAs(const fs::path& home, const std::vector<std::string>& arguments = {}) {
        const fs::path log = folderOf(home) / "out.log";
        const std::size_t logBefore = fs::exists(log) ? readFile(log).size() : 0;
        const std::size_t startsBefore = readGameStarts(gameRecord).size();
        auto environment = launcherRunEnvironment();
        environment["XDG_DATA_HOME"] = home.string();
        PlayerRun run{sandbox.run(arguments, environment), {}, ""};
        if (fs::exists(log)) {
            run.messages = logMessagesOf(readFile(log).substr(logBefore));
        }
        if (arguments.empty()) {
            const auto starts = gameStarts(startsBefore + 1);
            run.started = starts.size() > startsBefore ? starts.back().version : "";
        }
        started.stopAll();
        return run;
    }

    // The number in the player's record; none when it holds none.
    static std::optional<int> installNumber(const fs::path& home) {
        const fs::path record = folderOf(home) / numberRecord;
        if (!fs::is_regular_file(fs::symlink_status(record))) {
            return std::nullopt;
        }
        const std::string text = readFile(record);
        if (text.size() < 2 || text.size() > 5 || text.back() != '\n' ||
            !std::all_of(text.begin(), text.end() - 1,
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
            return std::nullopt;
        }
        return std::stoi(text);
    }

    static std::string installedVersion(const fs::path& home) {
        const std::string record = readFile(folderOf(home) / "CurrentVersion.ini");
        return record.substr(0, record.find('\n'));
    }

    // The run went as the player's own number says at 50 %: 1.1 installed and started below
    // 5000, 1.0 kept and started otherwise; true when it updated.
    bool expectDecisionOfItsNumber(const fs::path& home, const PlayerRun& run) {
        const auto number = installNumber(home);
        EXPECT_TRUE(number) << home;
        const bool in = number && *number < 5000;
        const std::string release = "Release 1.1 is rolled out to 50 % of players; ";
        EXPECT_EQ(run.result.exitStatus, 0) << run.result.standardError;
        EXPECT_EQ(run.started, in ? "1.1" : "1.0") << home << " " << number.value_or(-1);
        EXPECT_TRUE(
            run.has(release + (in ? "this one is among them" : "this one stays on 1.0 for now")))
            << home;
        EXPECT_EQ(installedVersion(home), in ? "ApplicationVersion=1.1" : "ApplicationVersion=1.0");
        EXPECT_EQ(run.mentions("Starting content installer"), in) << home;
        return in;
    }
};

} // namespace

// At 0 % an installed player keeps its game and a new one installs; at 100 %, as without the key,
// every player updates.
TEST_F(PhasedRollout, AnInstalledPlayerUpdatesOnlyWithinThePercentageANewPlayerAlwaysInstalls) {
    SKIP_WITHOUT_DISPLAY();
    installFirstRelease();
    const struct {
        std::string percent;
        bool installedUpdates;
    } cases[] = {{"0", false}, {"100", true}, {"", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE("rollout " + c.percent);
        const std::string manifest = announceUpdate(c.percent);
        const fs::path installed = player("installed-" + c.percent, true);
        const int fetchesBefore = requestsFor("GET /game-1.1.zip");
        const PlayerRun kept = runAs(installed);
        EXPECT_EQ(kept.result.exitStatus, 0) << kept.result.standardError;
        if (c.installedUpdates) {
            EXPECT_EQ(kept.started, "1.1");
            EXPECT_TRUE(kept.has("Current appVersion:1.0 is different than latest:1.1"));
            EXPECT_FALSE(kept.mentions("is rolled out to"));
            EXPECT_EQ(readFile(folderOf(installed) / "CurrentVersion.ini"), manifest);
        } else {
            EXPECT_EQ(kept.started, "1.0");
            EXPECT_TRUE(kept.has(
                "Release 1.1 is rolled out to 0 % of players; this one stays on 1.0 for now"));
            EXPECT_FALSE(kept.mentions("Starting content installer"));
            EXPECT_EQ(installedVersion(installed), "ApplicationVersion=1.0");
            EXPECT_EQ(requestsFor("GET /game-1.1.zip"), fetchesBefore);
        }

        const fs::path fresh = player("new-" + c.percent, false);
        const PlayerRun first = runAs(fresh);
        EXPECT_EQ(first.result.exitStatus, 0) << first.result.standardError;
        EXPECT_EQ(first.started, "1.1");
        EXPECT_EQ(readFile(folderOf(fresh) / "CurrentVersion.ini"), manifest);
        EXPECT_FALSE(first.mentions("is rolled out to"));
    }
}

TEST_F(PhasedRollout, AtHalfAboutHalfOfTwentyPlayersUpdateEachAsItsOwnKeptNumberSays) {
    SKIP_WITHOUT_DISPLAY();
    installFirstRelease();
    announceUpdate("50");
    int updated = 0;
    std::optional<fs::path> stayer;
    for (int i = 0; i < 20; ++i) {
        const fs::path home = player("player-" + std::to_string(i), true);
        ASSERT_FALSE(fs::exists(folderOf(home) / numberRecord));
        const bool in = expectDecisionOfItsNumber(home, runAs(home));
        updated += in ? 1 : 0;
        stayer = in || stayer ? stayer : home;
    }
    // Twenty fair coins: outside this band about once in 25,000 runs.
    EXPECT_GE(updated, 2);
    EXPECT_LE(updated, 18);

    // The number made at the first run decides every later one.
    ASSERT_TRUE(stayer);
    const std::string number = readFile(folderOf(*stayer) / numberRecord);
    const PlayerRun again = runAs(*stayer);
    EXPECT_FALSE(expectDecisionOfItsNumber(*stayer, again));
    EXPECT_EQ(readFile(folderOf(*stayer) / numberRecord), number);
    EXPECT_FALSE(again.mentions("install number"));
}

TEST_F(PhasedRollout, TheInstallNumberIsKeptReplacedWhenDamagedAndUninstalledWithTheFolder) {
    SKIP_WITHOUT_DISPLAY();
    installFirstRelease();
    announceUpdate("50");

    const fs::path kept = player("kept", true);
    expectDecisionOfItsNumber(kept, runAs(kept));

    const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> damages = {
        {"words", [](const fs::path& r) { writeFile(r, "forty-two\n"); }},
        {"empty", [](const fs::path& r) { writeFile(r, ""); }},
        {"too large", [](const fs::path& r) { writeFile(r, "10000\n"); }},
        {"a pipe", [](const fs::path& r) { ASSERT_EQ(mkfifo(r.c_str(), 0600), 0); }},
        {"a link", [](const fs::path& r) {
             writeFile(r.parent_path() / "elsewhere", "1\n");
             fs::create_symlink("elsewhere", r);
         }}};
    for (const auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        const fs::path home = player("damaged-" + what, true);
        const fs::path record = folderOf(home) / numberRecord;
        damage(record);
        const PlayerRun run = runAs(home);
        EXPECT_EQ(std::count_if(run.messages.begin(), run.messages.end(),
                                [&](const std::string& m) {
                                    return m.starts_with("The install number record was replaced "
                                                         "by a new number: " +
                                                         record.string());
                                }),
                  1);
        expectDecisionOfItsNumber(home, run);
    }

    // A record that can neither be read nor replaced keeps the player where it is.
    const fs::path blocked = player("blocked", true);
    fs::create_directories(folderOf(blocked) / numberRecord / "inside");
    const PlayerRun stays = runAs(blocked);
    EXPECT_EQ(stays.result.exitStatus, 0) << stays.result.standardError;
    EXPECT_EQ(stays.started, "1.0");
    EXPECT_TRUE(stays.mentions("No install number can be kept, so this player stays on its "
                               "release until the rollout reaches 100 % of players: "));
    EXPECT_TRUE(
        stays.has("Release 1.1 is rolled out to 50 % of players; this one stays on 1.0 for now"));
    EXPECT_TRUE(fs::is_directory(folderOf(blocked) / numberRecord / "inside"));

    const PlayerRun uninstalled = runAs(kept, {"-u", "-s"});
    EXPECT_EQ(uninstalled.result.exitStatus, 0) << uninstalled.result.standardError;
    EXPECT_FALSE(fs::exists(folderOf(kept) / numberRecord));
    EXPECT_FALSE(fs::exists(folderOf(kept)));
}
