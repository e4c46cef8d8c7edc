#pragma once

#include <sys/types.h>
#include <optional>
#include <string>
#include <vector>

namespace orvel::platform {

struct ProcessEntry {
    pid_t pid = 0;
    std::string exeFile;  // the snapshot's file name: the command line's first word
};

// The running processes, as EnumProcesses with GetModuleFileNameExA (per
// process) and the Toolhelp snapshot (one pass) saw them.
class ProcessTable {
  public:
    virtual ~ProcessTable() = default;
    virtual std::vector<pid_t> EnumProcesses() = 0;
    // The executable's full path; nullopt for a process that cannot be read
    // (another user's, a kernel thread, one that ended meanwhile).
    virtual std::optional<std::string> GetModuleFileNameExA(pid_t pid) = 0;
    virtual std::vector<ProcessEntry> Snapshot() = 0;
};

}  // namespace orvel::platform
