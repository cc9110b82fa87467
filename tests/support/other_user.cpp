#include "tests/support/other_user.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

OtherUser otherUser() {
    OtherUser user;
    if (::geteuid() != 0) {
        user.whyNot = "needs root to act as a second user (nobody); run the tests as root";
        return user;
    }
    const passwd* entry = ::getpwnam("nobody");
    if (entry == nullptr || entry->pw_uid == 0) {
        user.whyNot = "there is no user \"nobody\" to act as a second user";
        return user;
    }
    user.uid = entry->pw_uid;
    user.gid = entry->pw_gid;
    user.available = true;
    return user;
}

bool runAs(const OtherUser& user, const std::function<bool()>& act) {
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) {
            ::_exit(2);
        }
        ::_exit(act() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child) {
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
