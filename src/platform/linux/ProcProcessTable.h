#pragma once

#include <string>

#include "platform/ProcessTable.h"

namespace orvel::platform {

// The process table read from /proc, in process (never through ps): one
// directory handle on /proc and *at() calls relative to it, so a walk over a
// thousand processes costs only the system calls it needs.
class ProcProcessTable final : public ProcessTable {
  public:
    // procRoot is /proc on a real system; tests hand in a folder laid out like
    // it. ownUser is the user whose processes OwnCommandPath reads (this
    // program's real user id unless given).
    explicit ProcProcessTable(std::string procRoot = "/proc");
    ProcProcessTable(std::string procRoot, uid_t ownUser);
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
    // From cmdline, when the real user id in status is ours. The kernel starts
    // a script as "interpreter [option] script ..." and names the process
    // after the script (comm, cut to 15 bytes): the first word whose file
    // name begins with that name is the path, else the first word.
    std::optional<std::string> OwnCommandPath(pid_t pid) override;
    // comm, without its line end.
    std::string ProcessName(pid_t pid) override;

  private:
    std::string FirstWord(pid_t pid);
    std::string KernelName(pid_t pid);
    std::optional<uid_t> RealUser(pid_t pid);
    std::string ReadSmall(pid_t pid, const char* leaf, std::size_t limit);

    std::string procRoot_;
    int procFd_ = -1;
    uid_t ownUser_ = 0;
};

}  // namespace orvel::platform
