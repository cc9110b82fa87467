#include "uninstall/uninstaller.h"
#include "uninstall/user_data_removal.h"

#include <gtest/gtest.h>

TEST(RemovableDataFolder, OnlyTheCompanyAndAppFolderTwoLevelsDown) {
    const std::string base = "/home/me/.local/share";
    EXPECT_TRUE(
        isRemovableDataFolder(base + "/Quillmere/Driftmoor", base, "Quillmere", "Driftmoor"));
    EXPECT_TRUE(isRemovableDataFolder("/Q/D", "/", "Q", "D"));
    EXPECT_FALSE(isRemovableDataFolder(base + "/Quillmere", base, "Quillmere", "Driftmoor"));
    EXPECT_FALSE(isRemovableDataFolder(base, base, "Quillmere", "Driftmoor"));
    EXPECT_FALSE(isRemovableDataFolder("", base, "Quillmere", "Driftmoor"));
    EXPECT_FALSE(isRemovableDataFolder(base + "/Other/Driftmoor", base, "Quillmere", "Driftmoor"));
    for (const std::string bad : {"", ".", "..", "a/b", "/"}) {
        EXPECT_FALSE(isRemovableDataFolder(base + "/" + bad + "/Driftmoor", base, bad, "Driftmoor"))
            << bad;
        EXPECT_FALSE(isRemovableDataFolder(base + "/Quillmere/" + bad, base, "Quillmere", bad))
            << bad;
    }
    EXPECT_FALSE(isRemovableDataFolder("/Q/D", "", "Q", "D"));
    EXPECT_FALSE(isRemovableDataFolder("share/Q/D", "share", "Q", "D"));
}

TEST(UninstallArguments, SilenceIsAnyExactDashSAfterTheProgramName) {
    const char* runs[][4] = {{"launcher", "-u", "-s", nullptr},
                             {"launcher", "-s", "-u", nullptr},
                             {"launcher", "x", "-u", "-s"}};
    for (auto& words : runs) {
        int count = 0;
        while (count < 4 && words[count]) {
            ++count;
        }
        EXPECT_TRUE(asksForSilence(count, const_cast<char**>(words)));
    }
    const char* loud[] = {"-s", "-u", "-S"};
    EXPECT_FALSE(asksForSilence(3, const_cast<char**>(loud))); // "-s" as program name only
    const char* near[] = {"launcher", "-u", "-S", "--s", "-s "};
    EXPECT_FALSE(asksForSilence(5, const_cast<char**>(near)));
}
