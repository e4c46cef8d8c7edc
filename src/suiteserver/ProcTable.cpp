#include "suiteserver/ProcTable.h"

#include <dirent.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace orvel::suiteserver {

namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::optional<ProcEntry> ParseProcStat(std::string_view line) {
    auto open = line.find(" (");
    auto close = line.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::nullopt;
    }
    ProcEntry entry;
    if (!ParseNumber(line.substr(0, open), &entry.pid)) return std::nullopt;
    // Fields after the name: state is field 3 of the line, start time field 22.
    std::vector<std::string_view> fields;
    std::size_t at = close + 1;
    while (at < line.size() && fields.size() < 20) {
        while (at < line.size() && line[at] == ' ') ++at;
        std::size_t end = line.find(' ', at);
        if (end == std::string_view::npos) end = line.size();
        if (end > at) fields.push_back(line.substr(at, end - at));
        at = end;
    }
    if (fields.size() < 20 || fields[0].size() != 1) return std::nullopt;
    entry.state = fields[0][0];
    if (!ParseNumber(fields[1], &entry.parent) || !ParseNumber(fields[2], &entry.group) ||
        !ParseNumber(fields[19], &entry.startTime)) {
        return std::nullopt;
    }
    return entry;
}

std::optional<ProcEntry> ReadProcEntry(pid_t pid) {
    std::string text = ReadWhole("/proc/" + std::to_string(pid) + "/stat");
    if (text.empty()) return std::nullopt;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return ParseProcStat(text);
}

std::map<pid_t, ProcEntry> ReadAllProcEntries() {
    std::map<pid_t, ProcEntry> all;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return all;
    while (dirent* item = readdir(proc)) {
        pid_t pid = 0;
        if (!ParseNumber(std::string_view(item->d_name), &pid)) continue;
        if (auto entry = ReadProcEntry(pid)) all.emplace(pid, *entry);
    }
    closedir(proc);
    return all;
}

std::vector<pid_t> OwnChildren() {
    std::vector<pid_t> children;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return children;
    while (dirent* item = readdir(tasks)) {
        if (item->d_name[0] == '.') continue;
        std::istringstream list(
            ReadWhole(std::string("/proc/self/task/") + item->d_name + "/children"));
        pid_t pid = 0;
        while (list >> pid) children.push_back(pid);
    }
    closedir(tasks);
    return children;
}

}  // namespace orvel::suiteserver
