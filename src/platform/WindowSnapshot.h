#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WindowSystem.h"

namespace orvel::platform {

// The windows of a set of titles, looked up together once, when it is made
// (a single pass over the windows where the window system batches lookups).
// FindWindowA answers those titles from that look; any other title, and the
// other operations, go to the window system itself. Made for one piece of
// work (one poll tick, one scan), so its answers are never older than that.
class WindowSnapshot final : public WindowSystem {
  public:
    WindowSnapshot(WindowSystem& windows, std::vector<std::string> titles);

    HWND FindWindowA(std::string_view title) override;
    bool PostMessageA(HWND window, unsigned message, std::intptr_t wParam,
                      std::intptr_t lParam) override;
    bool ShowWindow(HWND window, int command) override;
    bool BringWindowToTop(HWND window) override;

  private:
    WindowSystem& windows_;
    std::vector<std::string> titles_;
    std::vector<HWND> found_;  // found_[i] is the window of titles_[i]
};

}  // namespace orvel::platform
