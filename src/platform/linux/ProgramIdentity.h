#pragma once

// The one rule for "the same program": a process runs a registered program
// when it runs the same file (device and inode), however the path was spelled
// (suite//X.exe, suite/./X.exe, a folder reached through a link). For a "#!"
// script the kernel runs the interpreter: the process's executable must be
// the interpreter's file and the script word of its command line the
// script's file. A program replaced on disk while it runs is recognised by
// the kernel's "PATH (deleted)" for the registered path made canonical.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/ProcessTable.h"
#include "platform/linux/ProcFs.h"

namespace orvel::platform {

// The identity of the program at path (links followed). The interpreter of a
// script is taken from its first line as the kernel reads it; a relative
// interpreter is taken against the script's folder. nullopt when neither the
// file nor its folder exists. Never throws (but for allocation failure).
std::optional<ProgramIdentity> IdentifyProgram(const std::string& path);

// Whether process pid runs program, by the rule above. False for what
// cannot be read: another user's process that may not be looked into, a
// zombie, one that ended. Never throws (but for allocation failure).
bool SameProgram(const ProcFs& proc, pid_t pid, const ProgramIdentity& program);
// The same for a path: IdentifyProgram(path), then the rule.
bool SameProgram(const ProcFs& proc, pid_t pid, const std::string& programPath);

// The indexes (ascending) of the programs process pid runs, by the rule
// above: one look at the executable, the command line read only when the
// executable is one of the scripts' interpreters. nullopt when the process's
// executable cannot be looked at (another user's process, a program that
// gained rights at exec, a kernel thread, a zombie, one that ended).
std::optional<std::vector<std::size_t>> ProgramsRunBy(const ProcFs& proc, pid_t pid,
                                                      std::span<const ProgramIdentity> programs);

}  // namespace orvel::platform
