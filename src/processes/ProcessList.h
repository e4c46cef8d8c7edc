#pragma once

// The lines of the process list: one per running process whose executable is
// one of the component server programs of the table (modProcessNT and
// modProcess95), and the choice between the two walks by platform number.

#include <string>
#include <string_view>
#include <vector>

#include "platform/ProcessTable.h"
#include "status/ComponentServerTable.h"

namespace orvel::processes {

// The list control as the walks see it: Clear is clear(), AddItem push_back().
using ProcessLines = std::vector<std::string>;

inline constexpr const char* kProcessInformationNotAvailable = "Process Information Not Avaiable";

// The file name of an executable path: what follows the last '/', with the
// kernel's " (deleted)" mark of a replaced or removed program taken off.
std::string_view ExecutableFileName(std::string_view path);

// " (008) " + name: the process id with at least three digits.
std::string NtProcessLine(pid_t pid, std::string_view exeName);

// Clears list and adds, for every process in the order the table gives them
// and every table entry it matches (in slot order), the NT line. A process
// whose executable cannot be read or matches no name is listed for the slots
// whose program file (folder and name) it runs by file identity: started
// through a link, as a script, or (one of this user's) with file capabilities.
void FillProcessListNT(ProcessLines& list, platform::ProcessTable& processes,
                       const status::ComponentServerTable& table);

// The same from the one-pass snapshot; the line is the entry's file name alone.
void FillProcessList95(ProcessLines& list, platform::ProcessTable& processes,
                       const status::ComponentServerTable& table);

// By platform number: 2 the NT walk, 1 the snapshot, anything else the single
// line "Process Information Not Avaiable".
void FillProcessList(int platformId, ProcessLines& list, platform::ProcessTable& processes,
                     const status::ComponentServerTable& table);

}  // namespace orvel::processes
