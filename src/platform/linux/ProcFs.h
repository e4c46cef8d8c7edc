#pragma once

// The one reader of /proc. Every read goes through open/read on a descriptor
// (UniqueFd), relative to one directory handle on the root, and answers with
// an empty value when the process or file is gone or cannot be read.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileReplace.h"
#include "platform/ProcessTable.h"
#include "platform/UniqueFd.h"

namespace orvel::platform {

// The fields of /proc/PID/stat the suite uses.
struct ProcStat {
    pid_t pid = 0;
    std::string comm;  // the kernel's name for it (at most 15 bytes; may hold blanks and ')')
    char state = 0;    // 'R', 'S', 'D', 'T', ..., 'Z' a zombie, 'X' dead
    pid_t parent = 0;
    pid_t group = 0;              // process group
    pid_t session = 0;            // session
    std::uint64_t startTime = 0;  // clock ticks since boot
};

// One /proc/PID/stat line; nullopt when it is not one. The name may hold
// blanks and parentheses: the fields after it are counted from the last ')'.
std::optional<ProcStat> ParseProcStat(std::string_view line);

// ReadOpenFile (platform/FileReplace.h) reads /proc files too: a /proc file of
// a process that ended after the open answers ESRCH there, and that is an
// answer (nullopt), not an error to throw.

// The status of a /proc entry's file, as fstatat reports it (links followed).
struct ProcFileStatus {
    FileIdentity identity;
    bool removed = false;  // no name left on disk (st_nlink == 0): deleted or replaced
    uid_t owner = 0;
};

// Guarantees, for every member: nothing /proc says makes it throw (only an
// allocation failure could); a process that ended, a file that vanished
// between open and read, a process of another user, a kernel thread, an entry
// that is not a process: each is nullopt or an empty list. Members are const
// and safe to call from several threads at once.
class ProcFs {
  public:
    // root is /proc on a real system; tests hand in a folder laid out like it
    // (or remove one under a reader). A root that cannot be opened gives a
    // reader whose every answer is empty.
    explicit ProcFs(std::string root = "/proc");

    const std::string& root() const { return rootPath_; }
    bool Available() const { return root_.valid(); }

    // Every numeric entry (every thread group), in the kernel's order.
    std::vector<pid_t> Pids() const;
    // /proc/PID/stat parsed; a zombie is still there (state 'Z').
    std::optional<ProcStat> Stat(pid_t pid) const;
    // Stat of every process of the system, by id; those that end during the walk are left out.
    std::map<pid_t, ProcStat> AllStats() const;
    // The children of pid, from /proc/PID/task/*/children (needs the kernel's
    // CONFIG_PROC_CHILDREN, on in Debian's kernels).
    std::vector<pid_t> Children(pid_t pid) const;

    // readlink of /proc/PID/exe: canonical, " (deleted)" appended by the
    // kernel when the file was removed or replaced. nullopt for another
    // user's process, a kernel thread, a zombie or one that ended.
    std::optional<std::string> ExeLink(pid_t pid) const;
    // The running executable file itself (through the exe link), even when it
    // was removed. nullopt when the link cannot be followed (as ExeLink).
    std::optional<ProcFileStatus> ExeStatus(pid_t pid) const;
    // The status of path taken relative to the process's working folder
    // (an absolute path is taken as it is). nullopt when it cannot be read.
    std::optional<ProcFileStatus> StatusInWorkingFolder(pid_t pid, const std::string& path) const;

    // The command line's words, at most maxWords of them. A command line the
    // process rewrote without NULs is one word. nullopt when unreadable;
    // empty for a kernel thread or a zombie.
    std::optional<std::vector<std::string>> CommandLine(pid_t pid,
                                                        std::size_t maxWords = SIZE_MAX) const;
    // comm without its line end; nullopt when it cannot be read.
    std::optional<std::string> Comm(pid_t pid) const;
    // The real user id (the first of status's "Uid:" line).
    std::optional<uid_t> RealUser(pid_t pid) const;
    // The owner of /proc/PID: the effective user, or root for a process that
    // gained rights at exec (it may then not be looked into).
    std::optional<uid_t> Owner(pid_t pid) const;

    // The environment ("NAME=value" entries) of a process whose real user
    // and owner are both user; nullopt for anyone else's process and for
    // what cannot be read. A process that changed its environment after it
    // started may show the change or not; what it was given at exec stays.
    std::optional<std::vector<std::string>> Environment(pid_t pid, uid_t user) const;
    // The value of one entry of Environment; nullopt when not set or not readable.
    std::optional<std::string> EnvironmentValue(pid_t pid, std::string_view name, uid_t user) const;

    // Up to limit bytes of PID/leaf (leaf may hold '/'); nullopt when it
    // cannot be opened or read.
    std::optional<std::string> Read(pid_t pid, std::string_view leaf, std::size_t limit) const;

  private:
    UniqueFd Open(pid_t pid, std::string_view leaf, int flags) const;

    std::string rootPath_;
    UniqueFd root_;
};

}  // namespace orvel::platform
