#pragma once

// The one recipe for starting a program: posix_spawn, never through a shell.

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace orvel::platform {

struct SpawnRequest {
    // The file executed. A relative path is taken against the current
    // directory at the time of the call (not the working folder below).
    std::string program;
    // argv[0]; empty: the program's absolute path.
    std::string argv0;
    std::vector<std::string> arguments;  // argv[1], ...
    // The child's working folder; empty: this process's current directory.
    std::string workingFolder;
    enum class Grouping {
        kInherit,     // this process's group and session
        kOwnGroup,    // a process group of its own (id = its pid), same session
        kOwnSession,  // a session (and group) of its own: no terminal's signals reach it
    };
    Grouping grouping = Grouping::kInherit;
    // "NAME=value" entries added to this process's environment; each replaces
    // an entry of the same name. An entry without '=' is refused.
    std::vector<std::string> extraEnvironment;
    // Descriptors of this process to become the child's standard input,
    // output and error; -1 leaves it inherited as it is.
    int standardInput = -1;
    int standardOutput = -1;
    int standardError = -1;
};

struct SpawnResult {
    pid_t pid = 0;   // > 0 when the program runs
    UniqueFd pidfd;  // a process handle on the child (may be invalid if the kernel refused)
    int error = 0;   // errno value of the failure when pid is 0
    std::string errorText;
};

// Starts the request's program. Guarantees for the child: every descriptor
// above 2 closed (after the redirections), an empty signal mask, every
// signal's disposition back to default (an ignored SIGPIPE or SIGCHLD of this
// process does not leak), the working folder and grouping asked for, the
// environment with the extra entries. A failed chdir or exec is reported
// here (error), not as a pid. The pidfd is taken before this returns and
// before anyone could reap the child, as long as the caller reaps only
// children it knows: it names this child and no later process with its pid.
// Never throws (but for allocation failure).
SpawnResult Spawn(const SpawnRequest& request);

// This process's current directory, whatever its length; "" when it cannot be
// had (removed, or unreadable).
std::string CurrentDirectory();

}  // namespace orvel::platform
