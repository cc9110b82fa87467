#pragma once
#include <functional>
#include <string>
#include <sys/types.h>

// Another local user ("nobody") for tests of what one user can do to another. Only root can
// act as someone else; without root, or without that user, tests skip with whyNot().
struct OtherUser {
    uid_t uid = 0;
    gid_t gid = 0;
    bool available = false;
    std::string whyNot;
};

OtherUser otherUser();

// Runs act in a child process that has become user; true when act returned true. act runs
// after a fork of a threaded test, so it should stick to plain system calls.
bool runAs(const OtherUser& user, const std::function<bool()>& act);

// The macro form of the skip: the test cannot honestly run without a second user.
#define SKIP_WITHOUT_OTHER_USER(user)                                                              \
    if (!(user).available) {                                                                       \
        GTEST_SKIP() << (user).whyNot;                                                             \
    }
