#pragma once

// The server's names for what the one /proc reader (platform/linux/ProcFs.h)
// tells about processes.

#include <sys/types.h>

#include <map>
#include <optional>

#include "platform/linux/ProcFs.h"

namespace orvel::suiteserver {

using ProcEntry = platform::ProcStat;
using platform::ParseProcStat;

// The process's entry now; nullopt once it is gone.
std::optional<ProcEntry> ReadProcEntry(pid_t pid);
// Every process of the system, by id.
std::map<pid_t, ProcEntry> ReadAllProcEntries();

}  // namespace orvel::suiteserver
