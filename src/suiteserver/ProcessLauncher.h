#pragma once

// Starting component programs as real child processes and watching them end.

#include <sys/types.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace orvel::suiteserver {

struct LaunchResult {
    pid_t pid = 0;      // > 0 when the program runs
    std::string error;  // why it could not be started, when pid is 0
};

// Called once, on the watcher's thread, after the child has been reaped; status
// as waitpid reports it.
using ExitHandler = std::function<void(pid_t pid, int waitStatus)>;

class ProcessLauncher {
  public:
    virtual ~ProcessLauncher() = default;
    // Starts the program without a shell, with its folder as working directory.
    virtual LaunchResult Launch(const std::string& programPath, ExitHandler onExit) = 0;
    // Sends a signal to a child still being watched (and to its process group);
    // false when it has already been reaped.
    virtual bool Signal(pid_t pid, int signalNumber) = 0;
};

// posix_spawn with a pidfd per child, polled by one watcher thread: an exit is
// noticed as it happens and every child is reaped, so no zombie remains.
class ChildProcessLauncher : public ProcessLauncher {
  public:
    ChildProcessLauncher();
    ~ChildProcessLauncher() override;
    ChildProcessLauncher(const ChildProcessLauncher&) = delete;
    ChildProcessLauncher& operator=(const ChildProcessLauncher&) = delete;

    LaunchResult Launch(const std::string& programPath, ExitHandler onExit) override;
    bool Signal(pid_t pid, int signalNumber) override;

  private:
    struct Child {
        pid_t pid = 0;
        ExitHandler onExit;
    };
    void Watch();
    void Wake();

    std::mutex mutex_;
    std::map<int, Child> children_;  // by pidfd
    int wakeFd_ = -1;                // eventfd: the child list changed, or stop
    bool stopping_ = false;
    std::thread watcher_;
};

}  // namespace orvel::suiteserver
