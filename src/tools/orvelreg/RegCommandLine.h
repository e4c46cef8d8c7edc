#pragma once

// orvel-reg's command line: the operation, its key, value and options.

#include <optional>
#include <string>
#include <vector>

#include "tools/orvelreg/RegNames.h"

namespace orvel::tools {

enum class Verb { Help, Query, Add, Delete, Export, Import };

struct Command {
    Verb verb = Verb::Help;
    KeyName key;
    std::optional<std::string> valueName;  // /v NAME, or "" for /ve
    bool allValues = false;                // delete /va
    bool subtree = false;                  // query /s
    std::optional<DWORD> type;             // add /t
    std::optional<std::string> data;       // add /d
    char separator = '\0';                 // add /s for REG_MULTI_SZ; '\0' means the text "\0"
    bool force = false;                    // /f (add, delete), /y (export)
    bool windows = false;                  // export /windows: the file Windows' editor reads
    std::string file;                      // export, import
};

// Parses the arguments after the program name. On a usage error, returns
// nullopt and sets error to one line that says what is wrong.
std::optional<Command> ParseCommandLine(const std::vector<std::string>& args, std::string* error);

std::string UsageText();

}  // namespace orvel::tools
