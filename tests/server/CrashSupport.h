#pragma once

// What the crash and chaos tests of the real server share: processes counted
// from /proc, decoys that run a suite program but belong to nobody's start
// here, and a server started so that it dies at a named step.

#include <sys/types.h>

#include <set>
#include <string>
#include <vector>

#include "SuiteServerHarness.h"
#include "suiteclient/SuiteServer.h"

namespace orvel::testing {

// Live processes running path: its executable is path, or it is a script
// whose interpreter was given path as its first argument.
std::vector<pid_t> Running(const std::string& path);

// A process running program with an extra environment entry (none when
// empty); killed and reaped when the object goes.
class Decoy {
  public:
    Decoy(const std::string& program, const std::string& environmentEntry);
    ~Decoy();
    Decoy(const Decoy&) = delete;
    Decoy& operator=(const Decoy&) = delete;
    pid_t pid() const { return pid_; }
    bool Alive() const;

  private:
    pid_t pid_ = 0;
};

// Starts the server so that it raises SIGKILL at step (none when empty).
void StartServerDyingAt(SuiteServerHarness& harness, const std::string& step);
// Waits for the server to end; true when SIGKILL ended it.
bool ServerKilled(SuiteServerHarness& harness);

// A script that ignores SIGTERM, installed as the slot's program.
std::string InstallStubbornScript(SuiteServerHarness& harness, int slot);

}  // namespace orvel::testing
