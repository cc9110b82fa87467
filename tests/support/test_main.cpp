// GoogleTest's main, plus failure messages on standard error: tests that set up the run log
// point standard output at a log file, and a failure reported there would be lost with it.
#include <gtest/gtest.h>

#include <cstdio>

namespace {

class FailuresToStandardError : public testing::EmptyTestEventListener {
    void OnTestPartResult(const testing::TestPartResult& result) override {
        if (!result.failed()) {
            return;
        }
        std::fprintf(stderr, "%s:%d: Failure\n%s\n", result.file_name() ? result.file_name() : "?",
                     result.line_number(), result.message());
    }
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // GoogleTest owns its listeners and deletes them at exit.
    testing::UnitTest::GetInstance()->listeners().Append(new FailuresToStandardError);
    return RUN_ALL_TESTS();
}
