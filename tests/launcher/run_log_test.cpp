#include "launcher/run_log.h"
#include "platform/main_bundle.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace {

const std::regex entryPattern(
    R"(^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\d \d\d:\d\d:\d\d \d{4}:(.*)$)");

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string header() {
    return "\n\n[" + executablePath() + " setup for logging]\n";
}

} // namespace

TEST(RunLogDeathTest, WritingBeforeSetupEndsTheProcessWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(writeToLog("too early"), testing::ExitedWithCode(1),
                "You must call setupLogFile before any calls to writeToLog!");
}

TEST(RunLog, NewLogStartsWithTwoEmptyLinesAndTheHeader) {
    TempFolder folder;
    LogCapture log(folder.str());
    EXPECT_EQ(log.contents(), header());
}

TEST(RunLog, EntriesCarryTheAsctimeStampAndTheMessageVerbatim) {
    TempFolder folder;
    LogCapture log(folder.str());
    writeToLog("first");
    writeToLog("");
    writeToLog("Current appVersion:1 is different than latest:2\nStarting content installer...");
    const auto lines = linesOf(log.contents().substr(header().size()));
    ASSERT_EQ(lines.size(), 4u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, entryPattern)) << lines[0];
    EXPECT_EQ(match[3], "first");
    ASSERT_TRUE(std::regex_match(lines[1], match, entryPattern)) << lines[1];
    EXPECT_EQ(match[3], "");
    ASSERT_TRUE(std::regex_match(lines[2], match, entryPattern)) << lines[2];
    EXPECT_EQ(match[3], "Current appVersion:1 is different than latest:2");
    EXPECT_EQ(lines[3], "Starting content installer...");
}

TEST(RunLog, AsctimeTextMatchesTheSystemLibrary) {
    for (const std::time_t when :
         {std::time_t{0}, std::time_t{86400 * 9 + 3600 * 7 + 5}, std::time_t{1700000000},
          std::time_t{1767225599}, std::time(nullptr)}) {
        std::tm local{};
        localtime_r(&when, &local);
        std::string expected = std::asctime(&local);
        expected.pop_back();
        EXPECT_EQ(asctimeText(local), expected);
        EXPECT_EQ(asctimeText(local).size(), 24u);
    }
}

TEST(RunLog, AppendsBelowTheLimitAndStartsOverAtIt) {
    TempFolder folder;
    const std::string path = folder.str() + "/out.log";

    writeFile(path, std::string(logRestartBytes - 1, 'x'));
    {
        LogCapture log(folder.str());
        const std::string contents = log.contents();
        EXPECT_EQ(contents.size(), static_cast<std::size_t>(logRestartBytes - 1) + header().size());
        EXPECT_EQ(contents.substr(logRestartBytes - 1), header());
    }

    writeFile(path, std::string(logRestartBytes, 'x'));
    LogCapture log(folder.str());
    EXPECT_EQ(log.contents(), header());
}

TEST(RunLog, SecondSetupAddsASecondHeaderAfterTheEarlierLines) {
    TempFolder folder;
    {
        LogCapture log(folder.str());
        writeToLog("from the launcher flow");
    }
    LogCapture log(folder.str());
    const std::string contents = log.contents();
    const auto line = contents.find("from the launcher flow");
    ASSERT_NE(line, std::string::npos);
    EXPECT_EQ(contents.find(header()), 0u);
    EXPECT_NE(contents.find(header(), line), std::string::npos);
}

TEST(RunLog, ConcurrentWritersNeverTearAnEntry) {
    TempFolder folder;
    LogCapture log(folder.str());
    constexpr int threads = 8;
    constexpr int perThread = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) {
                writeToLog("writer " + std::to_string(t) + " entry " + std::to_string(i) + " " +
                           std::string(static_cast<std::size_t>(i % 50), '#'));
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    std::set<std::string> seen;
    for (const auto& line : linesOf(log.contents().substr(header().size()))) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, entryPattern)) << "torn entry: " << line;
        seen.insert(match[3]);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(threads * perThread));
}

// An archive or a careless hand can leave something other than a plain file where the log goes;
// the log must neither write through it nor give up on it.
TEST(RunLog, ALinkAFolderOrAPipeInTheLogsPlaceIsReplacedNotWrittenThrough) {
    TempFolder folder;
    const std::filesystem::path log = folder.path() / "out.log";
    const std::filesystem::path outside = folder.path() / "outside";
    writeFile(outside / "victim", "original");
    const std::vector<std::pair<const char*, void (*)(const std::filesystem::path&,
                                                      const std::filesystem::path&)>>
        places{
            {"link to the folder itself",
             [](const auto& log, const auto&) {
                 std::filesystem::create_directory_symlink(".", log);
             }},
            {"link to a file elsewhere",
             [](const auto& log, const auto& outside) {
                 std::filesystem::create_symlink(outside / "victim", log);
             }},
            {"dangling link",
             [](const auto& log, const auto& outside) {
                 std::filesystem::create_symlink(outside / "created-through", log);
             }},
            {"folder holding a link out",
             [](const auto& log, const auto& outside) {
                 writeFile(log / "inner.txt", "inner");
                 std::filesystem::create_directory_symlink(outside, log / "out");
             }},
            {"named pipe", [](const auto& log, const auto&) { mkfifo(log.c_str(), 0644); }},
        };
    for (const auto& [label, prepare] : places) {
        SCOPED_TRACE(label);
        prepare(log, outside);
        {
            LogCapture capture(folder.str());
            writeToLog("entry");
            EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(log)));
            EXPECT_EQ(capture.contents().substr(0, header().size()), header());
        }
        EXPECT_EQ(readFile(outside / "victim"), "original");
        EXPECT_FALSE(std::filesystem::exists(outside / "created-through"));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outside),
                                std::filesystem::directory_iterator()),
                  1)
            << "nothing is created outside";
        std::filesystem::remove_all(log);
    }
}

TEST(RunLogDeathTest, AFailedSetupIsReportedAndEntriesCanGoToStandardErrorInstead) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempFolder folder;
    const std::string missing = folder.str() + "/missing";
    EXPECT_EXIT(
        {
            const bool ready = setupLogFile(missing);
            writeToLog("not ready: " + std::to_string(ready));
        },
        testing::ExitedWithCode(1), "You must call setupLogFile before any calls to writeToLog!");
    EXPECT_EXIT(
        {
            const bool ready = setupLogFile(missing);
            useStandardErrorWithoutLog();
            writeToLog("still here, ready=" + std::to_string(ready));
            std::_Exit(3);
        },
        testing::ExitedWithCode(3), ":still here, ready=0\n");
}
