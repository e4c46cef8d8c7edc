#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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
    // The program file itself (for a script: the script); zero when there is
    // no file at the path, and then only a running copy of a removed program
    // is recognised, by canonicalPath.
    FileIdentity file;
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
// process) and the Toolhelp snapshot (one pass) saw them, and which of them
// run a given program.
class ProcessTable {
  public:
    virtual ~ProcessTable() = default;
    virtual std::vector<pid_t> EnumProcesses() = 0;
    // The executable's full path; nullopt for a process that cannot be read
    // (another user's, a kernel thread, one that ended meanwhile).
    virtual std::optional<std::string> GetModuleFileNameExA(pid_t pid) = 0;
    virtual std::vector<ProcessEntry> Snapshot() = 0;
    // The identity of the program at path; nullopt when there is no such file
    // and no folder to place it in.
    virtual std::optional<ProgramIdentity> IdentifyProgram(const std::string& path) = 0;
    // The indexes (ascending) of the programs that process pid runs, by file
    // identity: its executable, or for a script the interpreter as the
    // executable and the script as its command-line word. One look at the
    // process serves the whole list. Empty for what cannot be read.
    virtual std::vector<std::size_t> ProgramsRunBy(pid_t pid,
                                                   std::span<const ProgramIdentity> programs) = 0;
};

}  // namespace orvel::platform
