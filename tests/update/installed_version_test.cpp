#include "tests/support/log_capture.h"
#include "tests/support/temp_folder.h"
#include "update/release/install_number_record.h"
#include "update/release/installed_version.h"
#include "update/release/rollout.h"
#include "update/unpack/launcher_records.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Reads a CurrentVersion.ini holding text and returns currentAppVersion afterwards.
std::string versionRead(const std::string& text) {
    TempFolder folder;
    writeFile(folder / "CurrentVersion.ini", text);
    currentAppVersion = "1.0.1";
    EXPECT_TRUE(loadCurrentVersionIni(folder.str()));
    return currentAppVersion;
}

} // namespace

TEST(InstalledVersion, ReaderRules) {
    EXPECT_EQ(versionRead("ApplicationVersion=2.0\nLauncherVersion=1\n"), "2.0");
    EXPECT_EQ(versionRead("applicationversion=2.2\n"), "2.2");
    EXPECT_EQ(versionRead("ApplicationVersion=2.0\nApplicationVersion=2.1\n"), "2.0\n2.1");
    EXPECT_EQ(versionRead("[Section]\nApplicationVersion=3.0\n"), "1.0.1");
    EXPECT_EQ(versionRead(""), "1.0.1");
    EXPECT_EQ(versionRead("ApplicationVersion=\n"), "");
    EXPECT_EQ(versionRead("garbage line\nApplicationVersion=4.0\n"), "4.0");
}

TEST(InstalledVersion, MissingFileCannotBeLoaded) {
    TempFolder folder;
    currentAppVersion = "unchanged";
    EXPECT_FALSE(loadCurrentVersionIni(folder.str()));
    EXPECT_EQ(currentAppVersion, "unchanged");
}

TEST(InstalledVersion, SaveWritesTheFetchedTextByteForByte) {
    TempFolder folder;
    LogCapture log(folder.str());
    latestVersionText = "; published by the maker\r\nApplicationVersion=2.0\r\n[Extra]\nk=v";
    writeFile(folder / "CurrentVersion.ini", "ApplicationVersion=1.0\nmuch longer old record\n");
    EXPECT_EQ(saveCurrentVersionIni(folder.str(), latestVersionText), 0);
    EXPECT_EQ(readFile(folder / "CurrentVersion.ini"), latestVersionText);
    EXPECT_FALSE(std::filesystem::exists(folder / "CurrentVersion.ini.partial"));
    currentAppVersion = "1.0.1";
    EXPECT_TRUE(loadCurrentVersionIni(folder.str()));
    EXPECT_EQ(currentAppVersion, "2.0");
}

// The record is written as the launcher's other records: a link standing at it or at its
// temporary file is replaced, never written through.
TEST(InstalledVersion, SaveNeverWritesThroughALink) {
    TempFolder folder;
    LogCapture log(folder.str());
    writeFile(folder / "elsewhere.txt", "not the launcher's");
    writeFile(folder / "partial-target.txt", "not the launcher's either");
    for (const char* name : {"CurrentVersion.ini", "CurrentVersion.ini.partial"}) {
        std::filesystem::remove(folder / name);
    }
    std::filesystem::create_symlink(folder / "elsewhere.txt", folder / "CurrentVersion.ini");
    std::filesystem::create_symlink(folder / "partial-target.txt",
                                    folder / "CurrentVersion.ini.partial");
    EXPECT_EQ(saveCurrentVersionIni(folder.str(), "ApplicationVersion=2.0\n"), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(folder / "CurrentVersion.ini"));
    EXPECT_EQ(readFile(folder / "CurrentVersion.ini"), "ApplicationVersion=2.0\n");
    EXPECT_EQ(readFile(folder / "elsewhere.txt"), "not the launcher's");
    EXPECT_EQ(readFile(folder / "partial-target.txt"), "not the launcher's either");
    EXPECT_FALSE(std::filesystem::exists(
        std::filesystem::symlink_status(folder / "CurrentVersion.ini.partial")));
}

TEST(InstalledVersion, UnwritableFolderIsAFailureAndKeepsTheOldRecord) {
    TempFolder folder;
    const std::string logFolder = folder.str() + "/log";
    std::filesystem::create_directories(logFolder);
    LogCapture log(logFolder);
    const auto data = folder / "data";
    writeFile(data / "CurrentVersion.ini", "ApplicationVersion=1.0\n");
    std::filesystem::permissions(data, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_exec);
    latestVersionText = "ApplicationVersion=2.0\n";
    const bool rootIgnoresPermissions = access(data.c_str(), W_OK) == 0;
    if (rootIgnoresPermissions) {
        // Root writes anywhere; use a path that cannot be a folder instead.
        EXPECT_EQ(saveCurrentVersionIni((data / "CurrentVersion.ini").string(), latestVersionText),
                  1);
    } else {
        EXPECT_EQ(saveCurrentVersionIni(data.string(), latestVersionText), 1);
    }
    EXPECT_EQ(readFile(data / "CurrentVersion.ini"), "ApplicationVersion=1.0\n");
    EXPECT_NE(log.contents().find(":failed to save CurrentVersion.ini! contentAppPath: "),
              std::string::npos);
}

TEST(InstallNumberRecord, HoldsOneNumberBelowTheRangeWrittenWholeAndReadFromARegularFileOnly) {
    TempFolder folder;
    const fs::path record = folder / ".launcher-install-number";
    InstallNumberReading reading = readInstallNumber(folder.str());
    EXPECT_FALSE(reading.number);
    EXPECT_EQ(reading.problem, "") << "no record is no damage";

    std::string problem;
    ASSERT_TRUE(writeInstallNumber(folder.str(), 9999, problem)) << problem;
    EXPECT_EQ(readFile(record), "9999\n");
    EXPECT_FALSE(fs::exists(folder / ".launcher-install-number.partial"));
    EXPECT_EQ(readInstallNumber(folder.str()).number, 9999u);
    writeFile(record, "0");
    EXPECT_EQ(readInstallNumber(folder.str()).number, 0u);

    for (const char* damaged : {"", "\n", "10000\n", "-1\n", "12a\n", "1 2\n", "7\n\n", "+7\n",
                                "99999999999999999999\n"}) {
        writeFile(record, damaged);
        reading = readInstallNumber(folder.str());
        EXPECT_FALSE(reading.number) << damaged;
        EXPECT_EQ(reading.problem, record.string() + " holds no install number") << damaged;
    }
    // Neither a link nor a pipe is read (nor waited on).
    fs::remove(record);
    writeFile(folder / "elsewhere", "5\n");
    fs::create_symlink(folder / "elsewhere", record);
    EXPECT_FALSE(readInstallNumber(folder.str()).number);
    fs::remove(record);
    ASSERT_EQ(mkfifo(record.c_str(), 0600), 0);
    reading = readInstallNumber(folder.str());
    EXPECT_FALSE(reading.number);
    EXPECT_NE(reading.problem, "");

    for (const char* name : {".launcher-install-number", ".LAUNCHER-INSTALL-NUMBER",
                             ".launcher-install-number.partial"}) {
        EXPECT_TRUE(isLauncherRecordName(name)) << name;
    }
}

TEST(InstallNumberRecord, DrawnNumbersSpreadOverTheWholeRange) {
    std::set<std::uint32_t> drawn;
    bool low = false;
    bool high = false;
    for (int i = 0; i < 1000; ++i) {
        const auto number = drawInstallNumber();
        ASSERT_TRUE(number);
        ASSERT_LT(*number, installNumberCount);
        drawn.insert(*number);
        low = low || *number < installNumberCount / 2;
        high = high || *number >= installNumberCount / 2;
    }
    // 1000 draws from 10000 numbers repeat some, but nowhere near half of them.
    EXPECT_GT(drawn.size(), 500u);
    EXPECT_TRUE(low && high);
}
