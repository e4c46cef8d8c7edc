#pragma once

// The log-on runner's work: the machine-wide Run list of the registry, the
// command line of each entry, and starting them one after the other.

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProgramStarter.h"
#include "platform/Registry.h"

namespace orvel::tools {

inline constexpr const char* kRunListKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

struct RunEntry {
    std::string name;     // the value's name
    std::string command;  // its text
};

struct RunCommand {
    std::string program;
    std::vector<std::string> arguments;
};

// The text values of the Run key, in the order they were created; none when
// the key does not exist.
std::vector<RunEntry> ReadRunList(platform::Registry& registry);

// A quoted program path (blanks allowed inside) or an unquoted one up to the
// first blank, then arguments separated by blanks, each possibly quoted.
// nullopt for an empty line or a quote left open.
std::optional<RunCommand> ParseRunCommand(std::string_view line);

using StartFunction = std::function<platform::StartResult(const RunCommand&)>;

// Starts every entry; one that cannot be parsed or started is named on err
// and the others still start. Returns how many failed.
int StartRunList(const std::vector<RunEntry>& entries, const StartFunction& start,
                 std::ostream& err);

}  // namespace orvel::tools
