#pragma once

#include <sys/types.h>
#include <string>

namespace orvel::platform {

struct StartResult {
    pid_t pid = 0;      // > 0 when the program runs
    std::string error;  // why it could not be started, when pid is 0
};

// Starts a program directly (never through a shell) with its folder as the
// working directory, as Shell() with a window style did.
class ProgramStarter {
  public:
    virtual ~ProgramStarter() = default;
    virtual StartResult Start(const std::string& programPath, int windowStyle) = 0;
    // True while the process this starter started as pid still runs. Known
    // through a handle on that very process, never by a pid that may since
    // belong to another one; false for a pid it did not start.
    virtual bool IsAlive(pid_t pid) {
        (void)pid;
        return false;
    }
};

}  // namespace orvel::platform
