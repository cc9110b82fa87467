#include "tests/support/log_capture.h"
#include "tests/support/temp_folder.h"
#include "update/release/installed_version.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

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
