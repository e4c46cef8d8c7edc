#include "tools/orvelrun/RunList.h"

#include <cctype>

#include "platform/RegistryKey.h"

namespace orvel::tools {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<RunEntry> ReadRunList(platform::Registry& registry) {
    std::vector<RunEntry> entries;
    platform::RegistryKey key(registry);
    if (key.Open(platform::HKEY_LOCAL_MACHINE, kRunListKey, platform::KEY_READ) !=
        platform::ERROR_SUCCESS) {
        return entries;
    }
    std::string name, data;
    platform::DWORD type = 0;
    for (platform::DWORD i = 0;
         registry.RegEnumValueA(key.get(), i, &name, &type, &data) == platform::ERROR_SUCCESS;
         ++i) {
        if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) continue;
        // A string value's bytes end with its NUL.
        const auto end = data.find('\0');
        entries.push_back({name, end == std::string::npos ? data : data.substr(0, end)});
    }
    return entries;
}

std::optional<RunCommand> ParseRunCommand(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i >= line.size()) break;
        std::string word;
        bool quoted = false;
        for (; i < line.size() && (quoted || !IsBlank(line[i])); ++i) {
            if (line[i] == '"') {
                quoted = !quoted;
            } else {
                word += line[i];
            }
        }
        if (quoted) return std::nullopt;
        words.push_back(std::move(word));
    }
    if (words.empty() || words.front().empty()) return std::nullopt;
    RunCommand command;
    command.program = std::move(words.front());
    command.arguments.assign(std::make_move_iterator(words.begin() + 1),
                             std::make_move_iterator(words.end()));
    return command;
}

int StartRunList(const std::vector<RunEntry>& entries, const StartFunction& start,
                 std::ostream& err) {
    int failures = 0;
    for (const RunEntry& entry : entries) {
        const std::optional<RunCommand> command = ParseRunCommand(entry.command);
        if (!command) {
            err << "orvel-run: " << entry.name << ": cannot read the command line \""
                << entry.command << "\"\n";
            ++failures;
            continue;
        }
        const platform::StartResult result = start(*command);
        if (result.pid <= 0) {
            err << "orvel-run: " << entry.name << ": cannot start " << command->program << ": "
                << result.error << "\n";
            ++failures;
        }
    }
    return failures;
}

}  // namespace orvel::tools
