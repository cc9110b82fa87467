// Where the move puts the bundle: over the user's own copy where that is, else into the local
// Applications folder.
#include "relocation/app_relocator.h"
#include "tests/relocation/recording_relocation_system.h"

#include <functional>
#include <gtest/gtest.h>

TEST(RelocationDestination, TheUsersOwnCopyIsReplacedWhereItIsElseTheLocalFolderGetsOne) {
    const std::string usersCopy = "/Users/me/Applications/Launcher.app";
    struct Case {
        const char* name;
        std::function<void(RecordingRelocationSystem&)> set;
        std::string destination;
    };
    const std::vector<Case> cases = {
        {"no copy of the user's", [](auto&) {}, "/Applications/Launcher.app"},
        {"a copy in the user's folder",
         [&](auto& s) {
             s.usersCopyFolder = "/Users/me/Applications";
             s.existing.insert(usersCopy);
             s.fileManagerTrashes = true;
         },
         usersCopy},
        {"the user's folder through a link",
         [&](auto& s) {
             s.usersCopyFolder = "/Users/me/Apps-link";
             s.links["/Users/me/Apps-link"] = "/Users/me/Applications";
         },
         usersCopy},
        {"even when there is no local folder",
         [&](auto& s) {
             s.usersCopyFolder = "/Users/me/Applications";
             s.localFolders.clear();
         },
         usersCopy},
    };
    for (const Case& c : cases) {
        RecordingRelocationSystem s;
        c.set(s);
        AppRelocator(s).relocateToApplicationsFolder();
        EXPECT_TRUE(s.called("users copy Launcher.app")) << c.name;
        EXPECT_TRUE(s.called("copy " + s.bundle + " -> " + c.destination)) << c.name;
        EXPECT_EQ(s.called("file manager trash " + c.destination),
                  s.existing.contains(c.destination))
            << c.name;
        ASSERT_EQ(s.startedScripts.size(), 1u) << c.name;
        EXPECT_NE(s.startedScripts[0].find("/usr/bin/open '" + c.destination + "'"),
                  std::string::npos)
            << c.name;
        EXPECT_EQ(s.exits, std::vector<int>{0}) << c.name;
    }
}
