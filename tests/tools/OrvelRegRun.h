#pragma once

// Runs one orvel-reg command line in process against a registry, as the
// program would: its exit status and what it wrote to each stream.

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "tools/orvelreg/RegTool.h"

namespace orvel::tools {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline Outcome Tool(platform::Registry& registry, std::vector<std::string> args,
                    const std::string& store = {}) {
    std::string error;
    const std::optional<Command> command = ParseCommandLine(args, &error);
    if (!command) return {2, "", error};
    std::ostringstream out, err;
    const int status = RunCommand(*command, registry, out, err, store);
    return {status, out.str(), err.str()};
}

}  // namespace orvel::tools
