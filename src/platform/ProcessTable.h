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
    // For a process of the user running this program only: the path it was
    // started by, as its command line gives it (a link's own name, not its
    // target; for a script the kernel runs through its interpreter, the
    // script). nullopt for other users' processes and for what cannot be read.
    virtual std::optional<std::string> OwnCommandPath(pid_t pid) = 0;
    // The name the kernel gave the process: the file name it was started by,
    // cut to 15 bytes; "" when it cannot be read. Cheap enough to ask of every
    // process before the dearer OwnCommandPath.
    virtual std::string ProcessName(pid_t pid) = 0;
};

}  // namespace orvel::platform
