#pragma once

// Starting component programs as real child processes, watching them end, and
// ending everything a component left behind.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/InstallRoot.h"
#include "platform/UniqueFd.h"
#include "platform/linux/ComponentOutput.h"
#include "platform/linux/ProcFs.h"

namespace orvel::suiteserver {

// A process as the kernel tells it apart from one that later gets the same
// id: its id and its start time (clock ticks since boot, /proc/PID/stat).
struct ProcessIdentity {
    pid_t pid = 0;
    std::uint64_t startTime = 0;
    friend auto operator<=>(const ProcessIdentity&, const ProcessIdentity&) = default;
};

struct LaunchResult {
    pid_t pid = 0;  // > 0 when the program runs
    std::uint64_t startTime = 0;
    std::string error;  // why it could not be started, when pid is 0
    // Set when the program runs but its output could not be routed: it then
    // writes to the server's own standard output and error.
    std::string outputProblem;
};

// Whose output a component's standard output and error carry.
struct OutputLabel {
    int slot = -1;
    std::string name;  // the slot's name
};

// Why a recorded process was or was not taken over.
enum class AdoptVerdict {
    kAdopted,
    kGone,          // no such process, or it has ended (a zombie is ended)
    kOtherProcess,  // the id now belongs to a process started at another time
    kOtherProgram,  // it runs another program than the one recorded
    kOtherOwner,    // it belongs to another user
    kNotWatchable,  // no process handle could be had for it
};
const char* DescribeVerdict(AdoptVerdict verdict);

// A process of this user that carries a component marker in its environment.
struct MarkedProcess {
    ProcessIdentity process;
    pid_t parent = 0;
    std::string marker;  // the variable's value
};

// Called once, on the watcher's thread, when the component's first process has
// ended; status as waitpid reports it, or -1 when it was not our child (an
// adopted process) and its exit status is unknown.
using ExitHandler = std::function<void(pid_t pid, int waitStatus)>;

// Where the components of the installation at root send their output: the
// journal when stderrIsJournal, else log files in the state folder's
// "component-logs", written by the orvel-logpipe beside this program (or in
// the installation's libexec folder).
std::unique_ptr<platform::ComponentOutput> MakeComponentOutput(const platform::InstallRoot& root,
                                                               bool stderrIsJournal);

// A component is its first process, that process's group, and every process
// seen descending from it; it is named by the first process's id.
class ProcessLauncher {
  public:
    virtual ~ProcessLauncher() = default;
    // Starts the program without a shell, with its folder as working directory,
    // in a process group of its own, its environment this process's plus the
    // "NAME=value" entries given, its output routed under output's name.
    virtual LaunchResult Launch(const std::string& programPath,
                                const std::vector<std::string>& environment,
                                const OutputLabel& output, ExitHandler onExit) = 0;
    // Watches a process that an earlier run of the server started: the process
    // must still be alive, started at startTime, run programPath and belong to
    // this user.
    virtual AdoptVerdict Adopt(ProcessIdentity process, const std::string& programPath,
                               ExitHandler onExit) = 0;
    // The live processes of this user whose environment sets variable to a
    // value that starts with prefix. Walks every process: never under a lock
    // that anyone waits on.
    virtual std::vector<MarkedProcess> FindMarked(std::string_view variable,
                                                  std::string_view prefix) = 0;
    // SIGKILL to a process that no component accounts for (and to the group it
    // leads), unless its id now belongs to another process.
    virtual void EndOrphan(ProcessIdentity process) = 0;
    // Sends the signal to every process of the component still alive.
    virtual void Signal(pid_t component, int signalNumber) = 0;
    // True while a process of the component other than its ended first
    // process is alive.
    virtual bool Remains(pid_t component) = 0;
    // Nothing of the component is signalled or watched any more.
    virtual void Forget(pid_t component) = 0;
    // Notes what every component has started since the last look, so that a
    // child that leaves its group is still known after its parent ended.
    virtual void Refresh() {}
    // Ends the watching: once this returns no exit handler runs any more, and
    // Launch and Adopt refuse.
    virtual void StopWatching() = 0;
    // Ends every process left to this one that no component accounts for (the
    // orphans of components' helpers): at shutdown, once the components ended.
    virtual void EndStrays() = 0;
};

// posix_spawn with a pidfd per watched process, polled by one watcher thread:
// an exit is noticed as it happens and every child is reaped. The process is
// made a child subreaper, so what a component's helpers leave behind becomes
// this process's child: it is reaped too, and found when the component ends.
// A component's output goes where output routes it (the server's own
// standard output and error when null); a log pipe process behind it is
// reaped when it ends but never ended as a stray.
class ChildProcessLauncher : public ProcessLauncher {
  public:
    explicit ChildProcessLauncher(platform::ComponentOutput* output = nullptr);
    ~ChildProcessLauncher() override;
    ChildProcessLauncher(const ChildProcessLauncher&) = delete;
    ChildProcessLauncher& operator=(const ChildProcessLauncher&) = delete;

    LaunchResult Launch(const std::string& programPath, const std::vector<std::string>& environment,
                        const OutputLabel& output, ExitHandler onExit) override;
    std::vector<MarkedProcess> FindMarked(std::string_view variable,
                                          std::string_view prefix) override;
    void EndOrphan(ProcessIdentity process) override;
    AdoptVerdict Adopt(ProcessIdentity process, const std::string& programPath,
                       ExitHandler onExit) override;
    void Signal(pid_t component, int signalNumber) override;
    bool Remains(pid_t component) override;
    void Forget(pid_t component) override;
    void Refresh() override;
    void StopWatching() override;
    // SIGKILL to every child of this process not watched, and reaps it.
    void EndStrays() override;

  private:
    struct Watched {
        pid_t pid = 0;
        bool ownChild = true;
        ExitHandler onExit;
        platform::UniqueFd handle;  // the pidfd, the key of watched_
    };
    struct Component {
        ProcessIdentity first;
        pid_t group = 0;
        bool firstEnded = false;
        std::set<ProcessIdentity> members;  // seen descending from it or in its group
    };
    void Watch();
    void Wake();
    void ReapStrays();
    // Brings the member list up to date from /proc; the members still alive.
    static std::set<ProcessIdentity> LiveMembers(Component& component,
                                                 const std::map<pid_t, platform::ProcStat>& all);

    platform::ComponentOutput* output_;
    std::mutex mutex_;
    std::set<pid_t> helpers_;                // log pipes: children that are never strays
    std::map<int, Watched> watched_;         // by pidfd
    std::map<pid_t, Component> components_;  // by first process id
    platform::ProcFs proc_;
    platform::UniqueFd wakeFd_;  // eventfd: the watch list changed, or stop
    bool stopping_ = false;
    std::thread watcher_;
};

}  // namespace orvel::suiteserver
