#pragma once

// Runs a check in a child process of its own, as the unprivileged user
// "nobody" when the test runs as root (as the test's own user otherwise), and
// answers the child's exit code: what the check returned, kUserNotSwitched
// when the change of user failed, -1 when the child died of a signal.
// The check runs after fork(): it must not rely on threads of the parent.

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

namespace orvel::fakes {

inline constexpr int kUserNotSwitched = 90;

// Whether a test can act as another user at all.
inline bool CanSwitchUser() {
    return ::geteuid() == 0;
}

inline int ChildAsNobody(const std::function<int()>& check) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (CanSwitchUser()) {
            const passwd* nobody = ::getpwnam("nobody");
            const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
            const gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
                ::_exit(kUserNotSwitched);
            }
        }
        ::_exit(check());
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace orvel::fakes
