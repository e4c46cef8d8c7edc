// The launcher's look for processes a component start marked, and the end of
// those that no component accounts for.

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/UniqueFd.h"
#include "platform/linux/ProcFs.h"
#include "suiteserver/ProcessLauncher.h"

namespace orvel::suiteserver {

std::vector<MarkedProcess> ChildProcessLauncher::FindMarked(std::string_view variable,
                                                            std::string_view prefix) {
    const uid_t user = geteuid();
    std::vector<MarkedProcess> found;
    for (pid_t pid : proc_.Pids()) {
        if (pid == getpid()) continue;
        auto stat = proc_.Stat(pid);
        if (!stat || stat->state == 'Z' || stat->state == 'X') continue;
        // Another user's process is never looked into (the reader refuses it).
        auto value = proc_.EnvironmentValue(pid, variable, user);
        if (!value || value->compare(0, prefix.size(), prefix) != 0) continue;
        found.push_back({{pid, stat->startTime}, stat->parent, *value});
    }
    return found;
}

void ChildProcessLauncher::EndOrphan(ProcessIdentity process) {
    if (process.pid <= 0) return;
    // The handle first: what is checked below is then the process it holds.
    platform::UniqueFd fd(static_cast<int>(syscall(SYS_pidfd_open, process.pid, 0)));
    if (!fd) return;
    auto stat = proc_.Stat(process.pid);
    if (!stat || stat->startTime != process.startTime) return;
    syscall(SYS_pidfd_send_signal, fd.get(), SIGKILL, nullptr, 0);
    if (stat->group == process.pid) kill(-process.pid, SIGKILL);
}

}  // namespace orvel::suiteserver
