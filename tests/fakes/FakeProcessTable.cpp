#include "FakeProcessTable.h"

#include <utility>

namespace orvel::fakes {

void FakeProcessTable::Add(pid_t pid, std::optional<std::string> exePath, std::string exeFile) {
    if (exeFile.empty() && exePath) exeFile = *exePath;
    processes.push_back({pid, std::move(exePath), std::move(exeFile), std::nullopt});
}

std::vector<pid_t> FakeProcessTable::EnumProcesses() {
    ++enumerations;
    std::vector<pid_t> pids;
    for (const Process& process : processes) pids.push_back(process.pid);
    return pids;
}

std::optional<std::string> FakeProcessTable::GetModuleFileNameExA(pid_t pid) {
    for (const Process& process : processes) {
        if (process.pid == pid) return process.exePath;
    }
    return std::nullopt;
}

std::optional<std::string> FakeProcessTable::OwnCommandPath(pid_t pid) {
    for (const Process& process : processes) {
        if (process.pid == pid) return process.commandPath;
    }
    return std::nullopt;
}

std::string FakeProcessTable::ProcessName(pid_t pid) {
    for (const Process& process : processes) {
        if (process.pid != pid) continue;
        std::string path = process.commandPath.value_or(process.exeFile);
        path = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
        return path.substr(0, 15);
    }
    return {};
}

std::vector<platform::ProcessEntry> FakeProcessTable::Snapshot() {
    ++snapshots;
    std::vector<platform::ProcessEntry> entries;
    for (const Process& process : processes) entries.push_back({process.pid, process.exeFile});
    return entries;
}

}  // namespace orvel::fakes
