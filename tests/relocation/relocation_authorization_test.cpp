// The authorized move into a folder the user cannot write to, failing at each of its steps.
#include "relocation/app_relocator.h"
#include "tests/relocation/recording_relocation_system.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>

namespace {

const std::string authorizationFailure =
    "ERROR -- Could not copy myself to /Applications with authorization";

// One way the authorized move fails: how the system is set, and what the relocator does then.
struct AuthorizationFailure {
    const char* name;
    std::function<void(RecordingRelocationSystem&)> set;
    std::string message;
    int privilegedRuns;
};

// Each failure ends the move with its message after so many privileged runs: the authorization
// freed, nothing relaunched, the process left to go on.
void expectEachEndsTheMove(const std::vector<AuthorizationFailure>& failures) {
    for (const AuthorizationFailure& c : failures) {
        RecordingRelocationSystem s;
        s.unwritable.insert("/Applications");
        c.set(s);
        AppRelocator(s).relocateToApplicationsFolder();
        EXPECT_EQ(s.logs, std::vector<std::string>{c.message}) << c.name;
        EXPECT_EQ(static_cast<int>(s.privilegedRuns.size()), c.privilegedRuns) << c.name;
        EXPECT_EQ(s.frees, 1) << c.name;
        EXPECT_TRUE(s.startedScripts.empty()) << c.name;
        EXPECT_TRUE(s.exits.empty()) << c.name;
    }
}

} // namespace

TEST(RelocationAuthorization, AnAuthorizationTheUserCancelsEndsTheMoveWithAnInfoLine) {
    const std::string cancelled = "INFO -- Not moving because user canceled authorization";
    expectEachEndsTheMove({
        {"cancelled", [](auto& s) { s.copyRightsStatus = errAuthorizationCanceled; }, cancelled, 0},
    });
}

TEST(RelocationAuthorization, ARefusedAuthorizationOrNoPrivilegedRunnerEndsTheMoveBeforeAnyRun) {
    expectEachEndsTheMove({
        {"refused", [](auto& s) { s.copyRightsStatus = -60005; }, authorizationFailure, 0},
        {"no privileged runner", [](auto& s) { s.executeWithPrivilegesThere = false; },
         authorizationFailure, 0},
    });
}

TEST(RelocationAuthorization, ARemovalOfTheOldBundleThatFailsEndsTheMoveBeforeTheCopy) {
    expectEachEndsTheMove({
        {"rm not started", [](auto& s) { s.executeStatuses = {-60031}; }, authorizationFailure, 1},
        {"rm wait fails", [](auto& s) { s.waitStatuses = {-1}; }, authorizationFailure, 1},
        {"rm killed", [](auto& s) { s.waitStatuses = {killedBy(SIGKILL)}; }, authorizationFailure,
         1},
        // The runner's own exits for a dismissed or refused prompt: rm never ran, and cp -pR
        // would copy the new bundle into the old one.
        {"rm prompt dismissed", [](auto& s) { s.waitStatuses = {exitedWith(126)}; },
         authorizationFailure, 1},
        {"rm prompt refused", [](auto& s) { s.waitStatuses = {exitedWith(127)}; },
         authorizationFailure, 1},
    });
}

TEST(RelocationAuthorization, ACopyThatFailsEndsTheMoveWithoutARelaunch) {
    const auto second = [](int status) {
        return [status](RecordingRelocationSystem& s) { s.waitStatuses = {exitedWith(0), status}; };
    };
    expectEachEndsTheMove({
        {"cp prompt dismissed", second(exitedWith(126)), authorizationFailure, 2},
        {"cp not started",
         [](auto& s) {
             s.executeStatuses = {0, -60031};
         },
         authorizationFailure, 2},
        {"cp wait fails", second(-1), authorizationFailure, 2},
        {"cp killed", second(killedBy(SIGTERM)), authorizationFailure, 2},
        {"cp exits 1", second(exitedWith(1)), authorizationFailure, 2},
    });
}

TEST(RelocationAuthorization, AnUnwritableUsersFolderIsReplacedAsAdministratorToo) {
    RecordingRelocationSystem system;
    system.usersCopyFolder = "/Users/me/Applications";
    system.existing.insert("/Users/me/Applications/Launcher.app");
    system.unwritable.insert("/Users/me/Applications");
    AppRelocator(system).relocateToApplicationsFolder();
    ASSERT_EQ(system.privilegedRuns.size(), 2u);
    EXPECT_EQ(system.privilegedRuns[1],
              (std::vector<std::string>{"/bin/cp", "-pR", system.bundle,
                                        "/Users/me/Applications/Launcher.app"}));
}
