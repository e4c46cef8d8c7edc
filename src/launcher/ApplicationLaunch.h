#pragma once

// The launch states of the catalogue's programs, how a state panel shows
// them, and the program start of the launch action.

#include <cstdint>
#include <optional>
#include <string>

#include "launcher/ApplicationCatalogue.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/ProgramStarter.h"
#include "platform/WindowSystem.h"
#include "status/WinColours.h"

namespace orvel::launcher {

// Window style of a program start: a normal window with focus.
inline constexpr int kNormalFocus = 1;

// Display attributes of a state panel: the style (0 plain, 3 the busy look)
// and the size (250 running or busy, 10 "Error"; nullopt leaves it as it was).
inline constexpr int kPanelStylePlain = 0;
inline constexpr int kPanelStyleBusy = 3;

struct StatePanelLook {
    std::optional<std::string> caption;  // nullopt: the caption is left unchanged
    status::WinColour back = status::kBlack;
    status::WinColour text = status::kBlack;
    int style = kPanelStylePlain;
    std::optional<int> size;
};

// The look of each launch state: "Off Line", "UnSupported", "UnRegistered",
// "Registered", "[Ready]", "Ready", running (caption kept) and "Error".
StatePanelLook LookOfState(std::int16_t state);
// The busy look of the launch action ("Servers", "Application").
StatePanelLook BusyLook(const std::string& caption);

// What deciding a program's state needs of the main window.
struct StateContext {
    ApplicationCatalogue& catalogue;
    ServerAccess servers;
    platform::WindowSystem& windows;
    bool localServerSelected = true;
};

// Recomputes State (and WindowHandle when its window exists) of entry index:
// 0 when not connected, 6 when its window exists, otherwise -1 for a program
// that cannot run against a remote server, 4 when a required server is not
// running, 5 when ready; states -1 and 2 stay.
std::int16_t DecideApplicationState(int index, StateContext context);

// The launched-tool scan of one slot: looks up the entry's window, stores the
// handle, and tells whether the state panel needs a refresh (the program
// started or ended since it was last painted).
bool WindowChangedSincePaint(ApplicationEntry& entry, platform::WindowSystem& windows);

// Message texts of the launch action.
std::string NotConnectedText(const std::string& displayName);
std::string ServerDidNotStartText(const std::string& serverDisplayName);
std::string StartFailedText(const ApplicationEntry& entry, const std::string& reason);

// Starts the entry's program from its folder, which also becomes the
// console's current directory. On success ProcessId and State 6 are stored;
// a start that fails stores neither and shows a box naming the program and
// the reason. True when the program runs.
bool StartApplication(ApplicationEntry& entry, platform::FileSystem& fileSystem,
                      platform::ProgramStarter* starter, platform::Dialogs& dialogs);

// True while the program this console last started for the entry still runs,
// window or not: a program that is still opening its window counts as running.
bool LaunchedProcessAlive(const ApplicationEntry& entry, platform::ProgramStarter* starter);

}  // namespace orvel::launcher
