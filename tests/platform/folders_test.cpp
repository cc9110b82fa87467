#include "platform/app_support_folder.h"
#include "platform/folder_containment.h"
#include "platform/main_bundle.h"
#include "platform/path_component.h"
#include "platform/standard_folders.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : variable(name) {
        if (const char* old = std::getenv(name)) {
            previous = old;
            hadValue = true;
        }
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (hadValue) {
            setenv(variable.c_str(), previous.c_str(), 1);
        } else {
            unsetenv(variable.c_str());
        }
    }

  private:
    std::string variable;
    std::string previous;
    bool hadValue = false;
};

} // namespace

TEST(StandardFolders, TemporaryFolderAlwaysEndsWithASlash) {
    {
        ScopedEnvironment tmp("TMPDIR", "/var/tmp/x");
        EXPECT_EQ(temporaryDirectory(), "/var/tmp/x/");
    }
    {
        ScopedEnvironment tmp("TMPDIR", "/var/tmp/y/");
        EXPECT_EQ(temporaryDirectory(), "/var/tmp/y/");
    }
    // Without a choice of the user's, a private folder of the user's own under /tmp.
    ScopedEnvironment tmp("TMPDIR", nullptr);
    ScopedEnvironment runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(temporaryDirectory(), "/tmp/launcher-" + std::to_string(getuid()) + "/");
}

TEST(StandardFolders, ApplicationSupportFollowsXdgDataHome) {
    ScopedEnvironment home("HOME", "/home/player");
    {
        ScopedEnvironment data("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(userApplicationSupportFolder(), "/srv/data");
    }
    {
        ScopedEnvironment data("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(userApplicationSupportFolder(), "/home/player/.local/share");
    }
    ScopedEnvironment data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(userApplicationSupportFolder(), "/home/player/.local/share");
}

TEST(MainBundle, ExecutablesInsideABundleBelongToIt) {
    EXPECT_EQ(bundlePathForExecutable("/opt/it's here/Game Launcher.app/Contents/MacOS/launcher"),
              "/opt/it's here/Game Launcher.app");
    EXPECT_EQ(resourcePathForExecutable("/opt/Game.app/Contents/MacOS/launcher"),
              "/opt/Game.app/Contents/Resources");
    EXPECT_EQ(bundlePathForExecutable("/usr/local/bin/launcher"), "/usr/local/bin");
    EXPECT_EQ(resourcePathForExecutable("/opt/NotABundle/Contents/MacOS/launcher"),
              "/opt/NotABundle/Contents/MacOS");
    EXPECT_FALSE(executablePath().empty());
}

TEST(PathComponent, JoinsWithExactlyOneSlash) {
    EXPECT_EQ(appendPathComponent("/data/", "Game.app"), "/data/Game.app");
    EXPECT_EQ(appendPathComponent("/data", "Game.app"), "/data/Game.app");
    EXPECT_EQ(appendPathComponent("/data//", "/Game.app"), "/data/Game.app");
    EXPECT_EQ(appendPathComponent("/", "Game.app"), "/Game.app");
    EXPECT_EQ(appendPathComponent("/data", ""), "/data");
}

class AppSupportFolderTest : public testing::Test {
  protected:
    TempFolder base;
    ScopedEnvironment data{"XDG_DATA_HOME", base.str().c_str()};
};

TEST(FolderContainment, ResolvedPathsDecideAndANamesakeNextDoorIsNotInside) {
    TempFolder root;
    const fs::path folder = root / "tmp" / "Test App";
    const fs::path executable = folder / "Drift Moor.app" / "Contents" / "MacOS" / "launcher";
    fs::create_directories(executable.parent_path());
    writeFile(executable, "");
    fs::create_directories(root / "tmp" / "Test App 2");
    fs::create_directory_symlink(root / "tmp", root / "linked");

    EXPECT_TRUE(folderHoldsPath(folder.string(), executable.string()));
    EXPECT_TRUE(folderHoldsPath(folder.string(), folder.string()));
    // Spelt as the temporary folder joins it, or reached through a link.
    EXPECT_TRUE(folderHoldsPath((root / "tmp").string() + "//Test App", executable.string()));
    EXPECT_TRUE(folderHoldsPath((root / "linked" / "Test App").string(), executable.string()));
    EXPECT_TRUE(folderHoldsPath(folder.string() + "/", executable.string()));
    EXPECT_TRUE(folderHoldsPath(folder.string(), (root / "linked" / "Test App" / "x").string()));

    EXPECT_FALSE(folderHoldsPath(folder.string(), (root / "tmp" / "Test App 2").string()));
    EXPECT_FALSE(folderHoldsPath((root / "tmp" / "Test App 2").string(), executable.string()));
    EXPECT_FALSE(folderHoldsPath(executable.string(), folder.string()));
    EXPECT_FALSE(folderHoldsPath("", executable.string()));
}

TEST_F(AppSupportFolderTest, CreatesBothLevelsOnceAndRemembersThePath) {
    appSupportFolder.clear();
    const auto first = createAppSupportFolder("Quill mere", "Drift'moor");
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, base.str() + "/Quill mere/Drift'moor");
    EXPECT_TRUE(fs::is_directory(*first));
    EXPECT_EQ(appSupportFolder, *first);
    writeFile(fs::path(*first) / "kept", "x");
    EXPECT_EQ(createAppSupportFolder("Quill mere", "Drift'moor"), first);
    EXPECT_TRUE(fs::exists(fs::path(*first) / "kept"));
}

TEST_F(AppSupportFolderTest, APlainFileInTheWayIsAFailure) {
    writeFile(base / "Company", "not a folder");
    appSupportFolder = "earlier";
    EXPECT_FALSE(createAppSupportFolder("Company", "App"));
    EXPECT_EQ(appSupportFolder, "earlier");
}

TEST_F(AppSupportFolderTest, NamesThatLeaveTheFolderAreRefused) {
    for (const auto& [company, app] :
         std::vector<std::pair<std::string, std::string>>{{"", "App"},
                                                          {"Company", ""},
                                                          {".", "App"},
                                                          {"Company", ".."},
                                                          {"a/b", "App"},
                                                          {"Company", "../../etc"}}) {
        EXPECT_FALSE(createAppSupportFolder(company, app)) << company << " / " << app;
    }
    EXPECT_TRUE(fs::is_empty(base.path()));
}
