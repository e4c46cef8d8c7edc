#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ProcessTable.h"

namespace orvel::fakes {

// A process table the test fills: each process with its executable path
// (nullopt: cannot be read, as another user's), its snapshot name, and the
// program file it runs as the identity rule sees it. A path's identity is
// its lexically normal form: "/a//b" and "/a/./b" are one file.
class FakeProcessTable : public platform::ProcessTable {
  public:
    struct Process {
        pid_t pid = 0;
        std::optional<std::string> exePath;
        std::string exeFile;
        std::optional<std::string> runs;  // nullopt: no program file of ours
    };

    // Adds a process; the snapshot name defaults to the executable path.
    void Add(pid_t pid, std::optional<std::string> exePath, std::string exeFile = {});

    std::vector<pid_t> EnumProcesses() override;
    std::optional<std::string> GetModuleFileNameExA(pid_t pid) override;
    std::vector<platform::ProcessEntry> Snapshot() override;
    std::optional<platform::ProgramIdentity> IdentifyProgram(const std::string& path) override;
    std::vector<std::size_t> ProgramsRunBy(
        pid_t pid, std::span<const platform::ProgramIdentity> programs) override;

    std::vector<Process> processes;
    int enumerations = 0;
    int snapshots = 0;
};

}  // namespace orvel::fakes
