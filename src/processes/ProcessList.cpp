#include "processes/ProcessList.h"

#include <charconv>
#include <utility>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/SystemInfo.h"
#include "suite/ComponentCatalog.h"

namespace orvel::processes {

namespace {

constexpr std::string_view kDeletedMark = " (deleted)";

// The unused slots ("None.exe", or no name at all) never match a process.
bool IsUnusedEntry(const status::ComponentServerEntry& entry) {
    return entry.strExeName.empty() ||
           platform::EqualIgnoringAsciiCase(entry.strExeName, suite::kUnusedComponent.exeName);
}

// One process against every table entry, in slot order; the number of lines added.
template <typename MakeLine>
int AddMatches(ProcessLines& list, std::string_view exePath,
               const status::ComponentServerTable& table, MakeLine makeLine) {
    const std::string_view fileName = ExecutableFileName(exePath);
    int added = 0;
    for (const status::ComponentServerEntry& entry : table) {
        if (!IsUnusedEntry(entry) && platform::EqualIgnoringAsciiCase(fileName, entry.strExeName)) {
            list.push_back(makeLine(entry.strExeName));
            ++added;
        }
    }
    return added;
}

// The program file of every used slot, by identity, and the slot each is of:
// looked up once per walk.
struct SlotPrograms {
    std::vector<platform::ProgramIdentity> programs;
    std::vector<const status::ComponentServerEntry*> entries;
};

SlotPrograms IdentifySlotPrograms(platform::ProcessTable& processes,
                                  const status::ComponentServerTable& table) {
    SlotPrograms slots;
    for (const status::ComponentServerEntry& entry : table) {
        if (IsUnusedEntry(entry)) continue;
        if (auto program = processes.IdentifyProgram(entry.strFolder + entry.strExeName)) {
            slots.programs.push_back(std::move(*program));
            slots.entries.push_back(&entry);
        }
    }
    return slots;
}

}  // namespace

std::string_view ExecutableFileName(std::string_view path) {
    if (path.size() > kDeletedMark.size() && path.ends_with(kDeletedMark)) {
        path.remove_suffix(kDeletedMark.size());
    }
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string NtProcessLine(pid_t pid, std::string_view exeName) {
    char digits[24] = {};
    const auto result = std::to_chars(digits, digits + sizeof(digits), pid);
    std::string_view number(digits, static_cast<std::size_t>(result.ptr - digits));
    std::string line = " (";
    if (number.size() < 3) line.append(3 - number.size(), '0');
    line.append(number);
    line.append(") ");
    line.append(exeName);
    return line;
}

void FillProcessListNT(ProcessLines& list, platform::ProcessTable& processes,
                       const status::ComponentServerTable& table) {
    list.clear();
    const auto makeLine = [](pid_t pid) {
        return [pid](const std::string& exeName) { return NtProcessLine(pid, exeName); };
    };
    const SlotPrograms slots = IdentifySlotPrograms(processes, table);
    for (pid_t pid : processes.EnumProcesses()) {
        // Unreadable: another user's process, a kernel thread, one that ended
        // meanwhile, or one of ours with file capabilities.
        const std::optional<std::string> path = processes.GetModuleFileNameExA(pid);
        if (path && AddMatches(list, *path, table, makeLine(pid)) > 0) continue;
        // Started through a link or as a script (the executable is the
        // interpreter), or unreadable: the slots whose program file it runs.
        if (slots.programs.empty()) continue;
        for (std::size_t index : processes.ProgramsRunBy(pid, slots.programs)) {
            list.push_back(NtProcessLine(pid, slots.entries[index]->strExeName));
        }
    }
}

void FillProcessList95(ProcessLines& list, platform::ProcessTable& processes,
                       const status::ComponentServerTable& table) {
    list.clear();
    for (const platform::ProcessEntry& entry : processes.Snapshot()) {
        AddMatches(list, entry.exeFile, table, [](const std::string& exeName) { return exeName; });
    }
}

void FillProcessList(int platformId, ProcessLines& list, platform::ProcessTable& processes,
                     const status::ComponentServerTable& table) {
    switch (platformId) {
        case platform::VER_PLATFORM_WIN32_NT:
            FillProcessListNT(list, processes, table);
            break;
        case platform::VER_PLATFORM_WIN32_WINDOWS:
            FillProcessList95(list, processes, table);
            break;
        default:
            list.clear();
            list.emplace_back(kProcessInformationNotAvailable);
            break;
    }
}

}  // namespace orvel::processes
