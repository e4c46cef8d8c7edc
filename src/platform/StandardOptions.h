#pragma once

// The two options every program answers, --help and --version, in one place so
// that each program words them alike.

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/VersionInfo.h"

namespace orvel::platform {

// "PROGRAM MAJOR.MINOR.REVISION (release marker)".
std::string VersionLine(std::string_view program, const VersionInfo& version);

// When the first argument is --help (or -h) or --version, writes the usage or
// the version line to out and gives the exit status 0; otherwise nullopt and
// nothing is written.
std::optional<int> AnswerStandardOption(const std::vector<std::string>& args,
                                        std::string_view program, std::string_view usage,
                                        std::ostream& out);

// The arguments after the program name.
std::vector<std::string> Arguments(int argc, char** argv);

}  // namespace orvel::platform
