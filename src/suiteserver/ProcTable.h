#pragma once

// What /proc tells about processes: the fields the launcher needs to tell a
// component's processes apart from everything else.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace orvel::suiteserver {

struct ProcEntry {
    pid_t pid = 0;
    char state = 0;  // 'R', 'S', ..., 'Z' for a zombie
    pid_t parent = 0;
    pid_t group = 0;
    std::uint64_t startTime = 0;  // clock ticks since boot
};

// One /proc/PID/stat line; nullopt when it is not one. The command name may
// hold spaces and parentheses: the fields are counted from the last ')'.
std::optional<ProcEntry> ParseProcStat(std::string_view line);

// The process's entry now; nullopt once it is gone.
std::optional<ProcEntry> ReadProcEntry(pid_t pid);
// Every process of the system, by id.
std::map<pid_t, ProcEntry> ReadAllProcEntries();
// This process's children (of all its threads).
std::vector<pid_t> OwnChildren();

}  // namespace orvel::suiteserver
