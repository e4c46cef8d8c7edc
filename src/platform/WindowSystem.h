#pragma once

// Top-level windows found by exact title, closed, shown and raised, as
// FindWindowA, PostMessageA(WM_CLOSE), ShowWindow and BringWindowToTop did.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace orvel::platform {

using HWND = std::uint32_t;  // the X window id; 0 is "no window"

inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr unsigned WM_CLOSE = 16;

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;
    // The first top-level window whose whole title equals title, compared
    // without regard to letter case; 0 when none (or no display).
    virtual HWND FindWindowA(std::string_view title) = 0;
    // FindWindowA for several titles at once: one answer per title, in
    // order. A window system where each lookup is a round trip overrides it
    // to answer them all from a single pass over the windows.
    virtual std::vector<HWND> FindWindows(std::span<const std::string_view> titles) {
        std::vector<HWND> found;
        found.reserve(titles.size());
        for (std::string_view title : titles) found.push_back(FindWindowA(title));
        return found;
    }
    // Only WM_CLOSE is meaningful: a close request to the window.
    virtual bool PostMessageA(HWND window, unsigned message, std::intptr_t wParam,
                              std::intptr_t lParam) = 0;
    virtual bool ShowWindow(HWND window, int command) = 0;
    virtual bool BringWindowToTop(HWND window) = 0;
};

// The stand-in used where no window system is wired: it never finds a window.
class NoWindowSystem final : public WindowSystem {
  public:
    HWND FindWindowA(std::string_view) override { return 0; }
    bool PostMessageA(HWND, unsigned, std::intptr_t, std::intptr_t) override { return false; }
    bool ShowWindow(HWND, int) override { return false; }
    bool BringWindowToTop(HWND) override { return false; }
};

}  // namespace orvel::platform
