#include "suiteserver/ProcTable.h"

namespace orvel::suiteserver {

std::optional<ProcEntry> ReadProcEntry(pid_t pid) {
    return platform::ProcFs().Stat(pid);
}

std::map<pid_t, ProcEntry> ReadAllProcEntries() {
    return platform::ProcFs().AllStats();
}

}  // namespace orvel::suiteserver
