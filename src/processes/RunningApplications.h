#pragma once

// The suite's applications that run on this computer, found by their window
// titles: the window "REVERO" and the catalogue's programs 1-15.

#include <string>
#include <string_view>
#include <vector>

#include "launcher/ApplicationCatalogue.h"
#include "platform/WindowSystem.h"

namespace orvel::processes {

inline constexpr const char* kReveroTitle = "REVERO";

// "REVERO" when a window of that title exists, then the DisplayName of every
// catalogue entry 1-15 whose window exists, in catalogue order. Stores the
// handle found (0 for none) in each entry's WindowHandle.
std::vector<std::string> FindRunningApplications(launcher::ApplicationCatalogue& catalogue,
                                                 platform::WindowSystem& windows);

// Asks the application(s) of one list line to close (WM_CLOSE): the window
// "REVERO" for that line, else every entry 1-15 whose DisplayName is exactly
// the line, through the handle the last search stored. An entry whose window
// was not found is left alone. Returns the number of close requests posted.
int CloseApplication(std::string_view line, const launcher::ApplicationCatalogue& catalogue,
                     platform::WindowSystem& windows);

}  // namespace orvel::processes
