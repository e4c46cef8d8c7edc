#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvel::tools {

// The window title of the suite program the stand-in was copied as, found by
// its file name without regard to letter case ("portsetedit.EXE" gives
// "Port Set Editor"); nullopt for a name that is not a suite program.
std::optional<std::string> TitleForProgramFile(std::string_view fileName);

struct ToolOptions {
    std::string title;
    bool help = false;
    std::string error;  // not empty: the arguments were refused
};

// Reads the arguments after the program name: --title TEXT, --title=TEXT,
// --help. Without --title the title comes from programFile's name.
ToolOptions ParseToolArguments(int argc, const char* const* argv, std::string_view programFile);

std::string ToolUsage(std::string_view programName);

}  // namespace orvel::tools
