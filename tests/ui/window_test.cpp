#include "tests/ui/window_test.h"

#include "launcher/launcher_config.h"

#include <filesystem>

namespace fs = std::filesystem;

std::string testAssetPath(const std::string& name) {
    return std::string(UI_TEST_RESOURCES) + "/Assets/" + name;
}

void WindowTest::SetUp() {
    launcherConfig = LauncherConfig{};
    fs::create_directories(fs::path(picture).parent_path());
}

void WindowTest::TearDown() {
    fs::remove(picture);
}
