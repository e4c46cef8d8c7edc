#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/WindowSystem.h"

namespace orvel::fakes {

// Windows by title, found without regard to ASCII letter case as FindWindowA
// did. Every close, show and raise is recorded; a closed window is gone.
class FakeWindowSystem : public platform::WindowSystem {
  public:
    // Adds (or replaces) a window; returns its handle.
    platform::HWND AddWindow(const std::string& title, platform::HWND handle = 0);
    void RemoveWindow(platform::HWND handle);

    platform::HWND FindWindowA(std::string_view title) override;
    bool PostMessageA(platform::HWND window, unsigned message, std::intptr_t wParam,
                      std::intptr_t lParam) override;
    bool ShowWindow(platform::HWND window, int command) override;
    bool BringWindowToTop(platform::HWND window) override;

    std::vector<platform::HWND> closed;  // WM_CLOSE requests, in order
    std::vector<std::pair<platform::HWND, int>> shown;
    std::vector<platform::HWND> raised;
    int lookups = 0;
    std::vector<std::string> titlesAsked;  // every FindWindowA title, in order
    // When false, a close request is recorded but the window stays (a program
    // that asks "save changes?").
    bool closeRemovesWindow = true;

  private:
    std::map<std::string, platform::HWND> windows_;  // upper-cased title -> handle
    platform::HWND nextHandle_ = 0x400001;
};

}  // namespace orvel::fakes
