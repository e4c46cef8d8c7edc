#pragma once

#include <string>

#include "platform/ProcessTable.h"
#include "platform/linux/ProcFs.h"

namespace orvel::platform {

// The process table read from /proc, in process (never through ps), through
// the one /proc reader: a walk over a thousand processes costs only the
// system calls it needs, and a process that ends during it is only missing
// from the answer.
class ProcProcessTable final : public ProcessTable {
  public:
    // procRoot is /proc on a real system; tests hand in a folder laid out like
    // it. ownUser is the user whose processes may be matched by the path they
    // were started by (this program's real user id unless given).
    explicit ProcProcessTable(std::string procRoot = "/proc");
    ProcProcessTable(std::string procRoot, uid_t ownUser);

    // Every numeric entry of /proc (every thread group), in the kernel's order.
    std::vector<pid_t> EnumProcesses() override;
    // readlink of /proc/PID/exe; " (deleted)" stays when the kernel reports it.
    // nullopt for another user's process, a kernel thread, a zombie or one
    // that ended meanwhile.
    std::optional<std::string> GetModuleFileNameExA(pid_t pid) override;
    // One pass: each process with its command line's first word as given, or
    // its kernel name (from stat) when the command line is empty.
    std::vector<ProcessEntry> Snapshot() override;
    std::optional<ProgramIdentity> IdentifyProgram(const std::string& path) override;
    // The one rule (ProgramIdentity.h). A program with file capabilities
    // cannot be looked into even by its own user: such a process of ownUser,
    // named by the kernel after one of the programs, is matched by the file
    // its command line's first word names.
    std::vector<std::size_t> ProgramsRunBy(pid_t pid,
                                           std::span<const ProgramIdentity> programs) override;

  private:
    ProcFs proc_;
    uid_t ownUser_ = 0;
};

}  // namespace orvel::platform
