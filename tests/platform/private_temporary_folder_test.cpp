// The temporary folder that the self-update writes into belongs to the user alone, also when
// another local user got to the shared /tmp first.
#include "platform/private_folder.h"
#include "platform/standard_folders.h"
#include "tests/support/file_modes.h"
#include "tests/support/other_user.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A stand-in for /tmp: anyone may create names in it, nobody may remove another's.
struct SharedRoot {
    TempFolder folder{"/tmp"};
    SharedRoot() { fs::permissions(folder.path(), fs::perms(01777)); }
    std::string ours() const { return folder.str() + "/launcher-" + std::to_string(getuid()); }
};

} // namespace

TEST(PrivateTemporaryFolder, APrivateRuntimeFolderIsUsedAsItStands) {
    TempFolder runtime; // mkdtemp makes it 0700 and ours
    const SharedRoot shared;
    EXPECT_EQ(privateTemporaryDirectory(runtime.str(), shared.folder.str()), runtime.str() + "/");
    EXPECT_FALSE(fs::exists(shared.ours()));
}

TEST(PrivateTemporaryFolder, OtherwiseAFolderOfItsOwnIsMadeUnderTheSharedRoot) {
    TempFolder open;
    fs::permissions(open.path(), fs::perms(0755));
    const SharedRoot shared;
    for (const std::string& runtime : {open.str(), std::string(), std::string("relative/run")}) {
        EXPECT_EQ(privateTemporaryDirectory(runtime, shared.folder.str()), shared.ours() + "/")
            << runtime;
        EXPECT_EQ(permissionsOf(shared.ours()), 0700u);
    }
    fs::permissions(shared.ours(), fs::perms(0755));
    EXPECT_EQ(privateTemporaryDirectory("", shared.folder.str()), "")
        << "a folder others may enter is not private";
}

TEST(PrivateTemporaryFolder, WhatAnotherUserPlantedIsRefused) {
    const OtherUser nobody = otherUser();
    SKIP_WITHOUT_OTHER_USER(nobody);
    {
        const SharedRoot shared;
        const std::string planted = shared.ours();
        ASSERT_TRUE(runAs(nobody, [&] { return mkdir(planted.c_str(), 0700) == 0; }));
        EXPECT_EQ(privateTemporaryDirectory("", shared.folder.str()), "");
        EXPECT_EQ(privateFolderProblem(planted), "it belongs to another user");
    }
    {
        const SharedRoot shared;
        const TempFolder mine; // private and ours: only the link is wrong
        const std::string planted = shared.ours();
        const std::string target = mine.str();
        ASSERT_TRUE(runAs(nobody, [&] { return symlink(target.c_str(), planted.c_str()) == 0; }));
        EXPECT_EQ(privateTemporaryDirectory("", shared.folder.str()), "");
        EXPECT_EQ(privateFolderProblem(planted), "it is a link");
    }
    {
        // A runtime folder of someone else's is passed over.
        const SharedRoot shared;
        const std::string theirs = shared.folder.str() + "/their-runtime";
        ASSERT_TRUE(runAs(nobody, [&] { return mkdir(theirs.c_str(), 0700) == 0; }));
        EXPECT_EQ(privateTemporaryDirectory(theirs, shared.folder.str()), shared.ours() + "/");
    }
}

TEST(PrivateTemporaryFolder, TmpdirStaysTheUsersChoice) {
    const char* saved = std::getenv("TMPDIR");
    const std::string previous = saved ? saved : "";
    setenv("TMPDIR", "/var/tmp/chosen", 1);
    EXPECT_EQ(temporaryDirectory(), "/var/tmp/chosen/");
    EXPECT_EQ(sharedTemporaryDirectory(), "/var/tmp/chosen/");
    unsetenv("TMPDIR");
    EXPECT_EQ(sharedTemporaryDirectory(), "/tmp/");
    if (saved) {
        setenv("TMPDIR", previous.c_str(), 1);
    }
}
