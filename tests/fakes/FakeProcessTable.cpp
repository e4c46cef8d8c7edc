#include "FakeProcessTable.h"

#include <filesystem>
#include <functional>
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

std::optional<platform::ProgramIdentity> FakeProcessTable::IdentifyProgram(
    const std::string& path) {
    platform::ProgramIdentity program;
    program.canonicalPath = std::filesystem::path(path).lexically_normal().string();
    program.file = {1, std::hash<std::string>{}(program.canonicalPath)};
    return program;
}

std::vector<std::size_t> FakeProcessTable::ProgramsRunBy(
    pid_t pid, std::span<const platform::ProgramIdentity> programs) {
    std::vector<std::size_t> matches;
    for (const Process& process : processes) {
        if (process.pid != pid || !process.runs) continue;
        const auto runs = IdentifyProgram(*process.runs);
        for (std::size_t i = 0; i < programs.size(); ++i) {
            if (programs[i].file == runs->file) matches.push_back(i);
        }
    }
    return matches;
}

std::vector<platform::ProcessEntry> FakeProcessTable::Snapshot() {
    ++snapshots;
    std::vector<platform::ProcessEntry> entries;
    for (const Process& process : processes) entries.push_back({process.pid, process.exeFile});
    return entries;
}

}  // namespace orvel::fakes
