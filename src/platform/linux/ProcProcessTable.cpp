#include "platform/linux/ProcProcessTable.h"

#include <unistd.h>

#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/ProgramIdentity.h"

namespace orvel::platform {

namespace {

// The kernel names a process after the file it executed, cut to 15 bytes.
bool NamedAfter(std::string_view comm, const ProgramIdentity& program) {
    const std::string_view path = program.canonicalPath;
    const std::string_view name = path.substr(path.rfind('/') + 1);
    return !comm.empty() && name.starts_with(comm);
}

}  // namespace

ProcProcessTable::ProcProcessTable(std::string procRoot)
    : ProcProcessTable(std::move(procRoot), getuid()) {}

ProcProcessTable::ProcProcessTable(std::string procRoot, uid_t ownUser)
    : proc_(std::move(procRoot)), ownUser_(ownUser) {}

std::vector<pid_t> ProcProcessTable::EnumProcesses() {
    return proc_.Pids();
}

std::optional<std::string> ProcProcessTable::GetModuleFileNameExA(pid_t pid) {
    return proc_.ExeLink(pid);
}

std::vector<ProcessEntry> ProcProcessTable::Snapshot() {
    std::vector<ProcessEntry> entries;
    for (const pid_t pid : proc_.Pids()) {
        std::string name;
        if (auto words = proc_.CommandLine(pid, 1); words && !words->empty()) {
            name = std::move(words->front());
        }
        if (name.empty()) {
            if (auto stat = proc_.Stat(pid)) name = std::move(stat->comm);
        }
        if (name.empty()) continue;  // ended between the listing and the read
        entries.push_back({pid, std::move(name)});
    }
    return entries;
}

std::optional<ProgramIdentity> ProcProcessTable::IdentifyProgram(const std::string& path) {
    return platform::IdentifyProgram(path);
}

std::vector<std::size_t> ProcProcessTable::ProgramsRunBy(
    pid_t pid, std::span<const ProgramIdentity> programs) {
    if (auto matches = platform::ProgramsRunBy(proc_, pid, programs)) return std::move(*matches);
    // The executable cannot be looked at: the cheap name first, then the user.
    std::vector<std::size_t> matches;
    const auto comm = proc_.Comm(pid);
    if (!comm) return matches;
    bool named = false;
    for (const ProgramIdentity& program : programs) named = named || NamedAfter(*comm, program);
    if (!named || proc_.RealUser(pid) != ownUser_) return matches;
    const auto words = proc_.CommandLine(pid, 1);
    if (!words || words->empty()) return matches;
    const auto file = proc_.StatusInWorkingFolder(pid, words->front());
    if (!file) return matches;
    for (std::size_t i = 0; i < programs.size(); ++i) {
        if (!programs[i].interpreter && file->identity == programs[i].file) matches.push_back(i);
    }
    return matches;
}

}  // namespace orvel::platform
