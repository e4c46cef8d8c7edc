#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ProcessTable.h"

namespace orvel::fakes {

// A process table the test fills: each process with its executable path
// (nullopt: cannot be read, as another user's) and its snapshot name.
class FakeProcessTable : public platform::ProcessTable {
  public:
    struct Process {
        pid_t pid = 0;
        std::optional<std::string> exePath;
        std::string exeFile;
        std::optional<std::string> commandPath;  // nullopt: another user's
    };

    // Adds a process; the snapshot name defaults to the executable path.
    void Add(pid_t pid, std::optional<std::string> exePath, std::string exeFile = {});

    std::vector<pid_t> EnumProcesses() override;
    std::optional<std::string> GetModuleFileNameExA(pid_t pid) override;
    std::vector<platform::ProcessEntry> Snapshot() override;
    std::optional<std::string> OwnCommandPath(pid_t pid) override;
    // The file name of the command path (else of the snapshot name), cut to 15 bytes.
    std::string ProcessName(pid_t pid) override;

    std::vector<Process> processes;
    int enumerations = 0;
    int snapshots = 0;
};

}  // namespace orvel::fakes
