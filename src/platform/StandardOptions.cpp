#include "platform/StandardOptions.h"

namespace orvel::platform {

std::string VersionLine(std::string_view program, const VersionInfo& version) {
    return std::string(program) + " " + std::to_string(version.major) + "." +
           std::to_string(version.minor) + "." + std::to_string(version.revision) + " (" +
           version.releaseMarker + ")";
}

std::optional<int> AnswerStandardOption(const std::vector<std::string>& args,
                                        std::string_view program, std::string_view usage,
                                        std::ostream& out) {
    if (args.empty()) return std::nullopt;
    if (args[0] == "--help" || args[0] == "-h") {
        out << usage;
        return 0;
    }
    if (args[0] == "--version") {
        out << VersionLine(program, ProgramVersionInfo()) << "\n";
        return 0;
    }
    return std::nullopt;
}

std::vector<std::string> Arguments(int argc, char** argv) {
    if (argc < 1 || argv == nullptr) return {};
    return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace orvel::platform
