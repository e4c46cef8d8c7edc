#include "tools/demotool/ToolTitles.h"

#include <array>
#include <utility>

#include "platform/AsciiCase.h"

namespace orvel::tools {

namespace {

// The suite programs the console starts, with the exact titles of their main
// windows. Shaper.exe is the router system's editor, found by the console
// under that name when the registry names none.
constexpr std::array<std::pair<std::string_view, std::string_view>, 15> kPrograms{{
    {"DeskMain.exe", "DeskMain"},
    {"PortSetEdit.exe", "Port Set Editor"},
    {"JournalView.exe", "JournalView"},
    {"Recorder.exe", "Recorder"},
    {"MatrixPanel.exe", "MatrixPanel"},
    {"TrackWatch.exe", "TrackWatch"},
    {"SoftDeck.exe", "softdeck"},
    {"CardHealth.exe", "Card Health"},
    {"LockBreaker.exe", "LockBreaker"},
    {"ConfLoad.exe", "ConfLoad"},
    {"DirectSwitch.exe", "DirectSwitchControl"},
    {"Rewire.exe", "Rewire Utility"},
    {"StateKeeper.exe", "State Keeper"},
    {"Shaper.exe", "Corvane Shaper"},
    {"LinkCheck.exe", "LinkCheck"},
}};

}  // namespace

std::optional<std::string> TitleForProgramFile(std::string_view fileName) {
    if (auto slash = fileName.rfind('/'); slash != std::string_view::npos) {
        fileName.remove_prefix(slash + 1);
    }
    for (const auto& [file, title] : kPrograms) {
        if (platform::EqualIgnoringAsciiCase(file, fileName)) return std::string(title);
    }
    return std::nullopt;
}

ToolOptions ParseToolArguments(int argc, const char* const* argv, std::string_view programFile) {
    ToolOptions options;
    bool titleGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--title") {
            if (i + 1 >= argc) {
                options.error = "--title needs the window title after it";
                return options;
            }
            options.title = argv[++i];
            titleGiven = true;
        } else if (argument.starts_with("--title=")) {
            options.title = std::string(argument.substr(8));
            titleGiven = true;
        } else {
            options.error = "unknown argument: " + std::string(argument);
            return options;
        }
    }
    if (options.help) return options;
    if (titleGiven && options.title.empty()) {
        options.error = "the window title must not be empty";
    } else if (!titleGiven) {
        if (auto title = TitleForProgramFile(programFile)) {
            options.title = *title;
        } else {
            options.error =
                "no window title: give --title, or run a copy named after a suite "
                "program (DeskMain.exe, PortSetEdit.exe, ...)";
        }
    }
    return options;
}

std::string ToolUsage(std::string_view programName) {
    std::string usage = "Usage: ";
    usage += programName;
    usage +=
        " [--title TEXT]\n"
        "Stands in for a suite tool: opens one window titled TEXT and closes when asked to.\n"
        "Without --title the title is the one of the suite program whose file name this copy\n"
        "carries (DeskMain.exe opens \"DeskMain\", PortSetEdit.exe \"Port Set Editor\").\n";
    return usage;
}

}  // namespace orvel::tools
