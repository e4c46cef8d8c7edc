#pragma once

#include <string>
#include <vector>

#include <map>
#include <mutex>

#include "platform/ProgramStarter.h"
#include "platform/UniqueFd.h"

namespace orvel::platform {

// Starts a program with the one spawn recipe (Spawn.h; never through a shell), in the
// program's folder, in a session of its own (a Ctrl-C or hang-up meant for the
// console does not reach the tools it started), with default signal
// handling, an empty signal mask and no descriptor of the console beyond
// standard input, output and error.
//
// The console never waits for the programs it starts, yet they must not stay
// zombies after they end: each started child gets a small detached thread
// that blocks in waitpid for exactly that child and then ends. It waits for
// that pid only, so it never takes the exit status of a child started by
// other code of the process, and it holds nothing of this object, so the
// starter may be destroyed while its children still run.
class PosixProgramStarter final : public ProgramStarter {
  public:
    PosixProgramStarter() = default;
    PosixProgramStarter(const PosixProgramStarter&) = delete;
    PosixProgramStarter& operator=(const PosixProgramStarter&) = delete;

    // windowStyle is accepted and ignored: the program decides its own
    // window state. A relative programPath is taken against the current
    // directory at the time of the call.
    StartResult Start(const std::string& programPath, int windowStyle) override;
    // The same start with arguments after the program (the log-on runner's
    // command lines carry some).
    StartResult StartWithArguments(const std::string& programPath,
                                   const std::vector<std::string>& arguments);
    bool IsAlive(pid_t pid) override;

  private:
    // A process handle (pidfd) for each started process not yet seen ended.
    std::mutex mutex_;
    std::map<pid_t, UniqueFd> handles_;
};

}  // namespace orvel::platform
