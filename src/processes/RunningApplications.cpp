#include "processes/RunningApplications.h"

namespace orvel::processes {

namespace {

bool PostClose(platform::WindowSystem& windows, platform::HWND window) {
    return window != 0 && windows.PostMessageA(window, platform::WM_CLOSE, 1, 1);
}

}  // namespace

std::vector<std::string> FindRunningApplications(launcher::ApplicationCatalogue& catalogue,
                                                 platform::WindowSystem& windows) {
    std::vector<std::string> lines;
    if (windows.FindWindowA(kReveroTitle) > 0) lines.emplace_back(kReveroTitle);
    for (int k = launcher::kFirstApplication; k <= launcher::kLastApplication; ++k) {
        launcher::ApplicationEntry& entry = catalogue[static_cast<std::size_t>(k)];
        entry.WindowHandle = windows.FindWindowA(entry.WindowTitle);
        if (entry.WindowHandle > 0) lines.push_back(entry.DisplayName);
    }
    return lines;
}

int CloseApplication(std::string_view line, const launcher::ApplicationCatalogue& catalogue,
                     platform::WindowSystem& windows) {
    if (line == kReveroTitle) return PostClose(windows, windows.FindWindowA(kReveroTitle)) ? 1 : 0;
    int posted = 0;
    for (int k = launcher::kFirstApplication; k <= launcher::kLastApplication; ++k) {
        const launcher::ApplicationEntry& entry = catalogue[static_cast<std::size_t>(k)];
        if (entry.DisplayName == line && PostClose(windows, entry.WindowHandle)) ++posted;
    }
    return posted;
}

}  // namespace orvel::processes
