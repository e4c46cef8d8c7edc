#pragma once

#include <string>

#include "platform/ProcessTable.h"

namespace orvel::platform {

// The process table read from /proc, in process (never through ps): one
// directory handle on /proc and *at() calls relative to it, so a walk over a
// thousand processes costs only the system calls it needs.
class ProcProcessTable final : public ProcessTable {
  public:
    // procRoot is /proc on a real system; tests hand in a folder laid out like it.
    explicit ProcProcessTable(std::string procRoot = "/proc");
    ~ProcProcessTable() override;
    ProcProcessTable(const ProcProcessTable&) = delete;
    ProcProcessTable& operator=(const ProcProcessTable&) = delete;

    // Every numeric entry of /proc (every thread group), in the kernel's order.
    std::vector<pid_t> EnumProcesses() override;
    // readlink of /proc/PID/exe; " (deleted)" stays when the kernel reports it.
    // nullopt for another user's process, a kernel thread, a zombie or one
    // that ended meanwhile.
    std::optional<std::string> GetModuleFileNameExA(pid_t pid) override;
    // One pass: each process with its command line's first word as given, or
    // its kernel name (from stat) when the command line is empty.
    std::vector<ProcessEntry> Snapshot() override;

  private:
    std::string FirstWord(pid_t pid);
    std::string KernelName(pid_t pid);

    std::string procRoot_;
    int procFd_ = -1;
};

}  // namespace orvel::platform
