#pragma once
#include <gtest/gtest.h>
#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/temp_folder.h"

// Where the windows under test look for name: the Assets folder of the tests' own bundle.
std::string testAssetPath(const std::string& name);

// What every window test starts from: the compiled-in settings, the run log captured in a
// folder of the test's own, and an Assets folder for the picture the test writes, which is
// removed again at the end.
class WindowTest : public testing::Test {
  protected:
    explicit WindowTest(std::string picturePath) : picture(std::move(picturePath)) {}
    void SetUp() override;
    void TearDown() override;

    const std::string picture;
    TempFolder logFolder;
    LogCapture log{logFolder.str()};
};
