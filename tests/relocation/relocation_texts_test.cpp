#include "relocation/bundle_paths.h"
#include "relocation/mount_table.h"
#include "relocation/relocation_commands.h"

#include <gtest/gtest.h>

TEST(ShellQuote, WrapsInSingleQuotesAndWritesInnerQuotesAsFourCharacters) {
    EXPECT_EQ(shellQuote("/Applications/Launcher.app"), "'/Applications/Launcher.app'");
    EXPECT_EQ(shellQuote("Bob's"), "'Bob'\\''s'");
    EXPECT_EQ(shellQuote("''"), "''\\'''\\'''");
    EXPECT_EQ(shellQuote(""), "''");
    EXPECT_EQ(shellQuote("$(rm -rf ~) \"x\" `y`"), "'$(rm -rf ~) \"x\" `y`'");
}

TEST(CommandTexts, AreTheMacTextsCharacterForCharacter) {
    EXPECT_EQ(quarantineCommand("'/A/L.app'", true),
              "/usr/bin/xattr -d -r com.apple.quarantine '/A/L.app'");
    EXPECT_EQ(quarantineCommand("'/A/L.app'", false),
              "/usr/bin/xattr -d com.apple.quarantine '/A/L.app'");
    EXPECT_EQ(relaunchScript(12, "Q", "/usr/bin/open '/A/L.app'"),
              "(while /bin/kill -0 12 >&/dev/null; do /bin/sleep 0.1; done; Q; /usr/bin/open "
              "'/A/L.app') &");
    EXPECT_EQ(relaunchScript(12, std::nullopt, "/usr/bin/open '/A/L.app'"),
              "(while /bin/kill -0 12 >&/dev/null; do /bin/sleep 0.1; done; /usr/bin/open "
              "'/A/L.app') &");
    EXPECT_EQ(detachScript("'/dev/disk2s1'"),
              "(/bin/sleep 5 && /usr/bin/hdiutil detach '/dev/disk2s1') &");
    EXPECT_EQ(runningCopyTest("'/A/L.app'"),
              "/bin/ps ax -o comm | /usr/bin/grep '/A/L.app'/ | /usr/bin/grep -v grep >/dev/null");
}

TEST(FinderTrashScript, EscapesQuotesAndBackslashesSoANameCannotAddCommands) {
    const std::string indent(40, ' ');
    const std::string tail = " \n" + indent + "tell application \"Finder\" \n" + indent +
                             "move theFile to trash \n" + indent + "end tell";
    EXPECT_EQ(finderTrashScript("/Applications/L.app"),
              indent + "set theFile to POSIX file \"/Applications/L.app\"" + tail);
    EXPECT_EQ(finderTrashScript("/Applications/a\" & (do shell script \"rm -rf ~\") & \"\\.app"),
              indent +
                  "set theFile to POSIX file \"/Applications/a\\\" & (do shell script \\\"rm -rf "
                  "~\\\") & \\\"\\\\.app\"" +
                  tail);
}

TEST(BundlePaths, NestingAndApplicationsFolders) {
    EXPECT_TRUE(bundleIsNested("/Applications/Outer.app/Contents/Inner.app"));
    EXPECT_FALSE(bundleIsNested("/Volumes/X.appx/Inner.app"));
    EXPECT_FALSE(bundleIsNested("/Volumes/X/Inner.app"));
    EXPECT_FALSE(bundleIsNested("/Volumes/.app/Inner.app")); // a hidden name, no extension
    EXPECT_TRUE(isInApplicationsFolder("/Applications/L.app", {"/Applications"}));
    EXPECT_TRUE(isInApplicationsFolder("/Volumes/D/Applications/L.app", {"/Applications"}));
    EXPECT_FALSE(isInApplicationsFolder("/Volumes/D/applications/L.app", {"/Applications"}));
    EXPECT_FALSE(isInApplicationsFolder("/Volumes/D/L.app", {"", "/Applications"}));
    EXPECT_EQ(standardizedPath("/Applications//./x/../L.app/"), "/Applications/L.app");
    EXPECT_EQ(parentFolder("/Volumes/D/L.app/"), "/Volumes/D");
    EXPECT_EQ(lastPathComponent("/Volumes/D/L.app/"), "L.app");
    EXPECT_TRUE(hasAppExtension("/Applications/L.app"));
    EXPECT_FALSE(hasAppExtension("/Applications/L.App.zip"));
    EXPECT_FALSE(hasAppExtension("/Applications"));
}

TEST(MountTable, TheDeepestLastMountHoldsAPath) {
    const std::string info =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "30 22 0:25 / /media/usb rw - vfat /dev/sdb1 rw\n"
        "31 30 0:26 / /media/usb/inner\\040disk rw shared:4 master:2 - ext4 /dev/sdc\\0401 rw\n"
        "40 22 8:1 /tmp/x /opt rw - ext4 /dev/sda1 rw\n"
        "41 22 8:1 /tmp/y /opt rw - ext4 /dev/sda2 rw\n"
        "garbage line\n";
    const auto mounts = parseMountInfo(info);
    ASSERT_EQ(mounts.size(), 5u);
    EXPECT_EQ(mounts[2].mountPoint, "/media/usb/inner disk");
    EXPECT_EQ(mounts[2].source, "/dev/sdc 1");

    EXPECT_EQ(mountHolding(mounts, "/home/me")->id, 22);
    EXPECT_EQ(mountHolding(mounts, "/media/usb/L.app")->source, "/dev/sdb1");
    EXPECT_EQ(mountHolding(mounts, "/media/usb/inner disk/L.app")->id, 31);
    EXPECT_EQ(mountHolding(mounts, "/media/usbx")->id, 22);
    EXPECT_EQ(mountHolding(mounts, "/opt/L.app")->id, 41); // the later mount hides the earlier
    EXPECT_FALSE(mountHolding(mounts, "relative/path"));
}
