#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvel::platform {

struct ProcessEntry {
    pid_t pid = 0;
    std::string exeFile;  // the snapshot's file name: the command line's first word
};

// A file as the system tells it apart from every other: its device and inode.
// Two spellings of one path, a link and its target, a folder reached through
// a link: all give the same identity.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// A program file as a process running it can be recognised by.
struct ProgramIdentity {
    FileIdentity file;  // the program file itself (for a script: the script)
    // Its path with links, ".", ".." and repeated '/' resolved, as the kernel
    // names a running file: a program replaced on disk while it runs is
    // still recognised by the kernel's "PATH (deleted)".
    std::string canonicalPath;
    // For a file that begins with "#!": the interpreter the kernel runs it
    // with (the process's executable), and the command-line word where the
    // kernel puts the script (1, or 2 after the interpreter's option).
    std::optional<FileIdentity> interpreter;
    std::string interpreterCanonicalPath;
    std::size_t scriptWord = 0;
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
