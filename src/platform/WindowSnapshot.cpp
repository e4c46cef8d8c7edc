#include "platform/WindowSnapshot.h"

#include <algorithm>
#include <utility>

namespace orvel::platform {

WindowSnapshot::WindowSnapshot(WindowSystem& windows, std::vector<std::string> titles)
    : windows_(windows), titles_(std::move(titles)) {
    const std::vector<std::string_view> asked(titles_.begin(), titles_.end());
    found_ = windows_.FindWindows(asked);
    found_.resize(titles_.size(), 0);
}

HWND WindowSnapshot::FindWindowA(std::string_view title) {
    const auto known = std::find(titles_.begin(), titles_.end(), title);
    if (known == titles_.end()) return windows_.FindWindowA(title);
    return found_[static_cast<std::size_t>(known - titles_.begin())];
}

bool WindowSnapshot::PostMessageA(HWND window, unsigned message, std::intptr_t wParam,
                                  std::intptr_t lParam) {
    return windows_.PostMessageA(window, message, wParam, lParam);
}

bool WindowSnapshot::ShowWindow(HWND window, int command) {
    return windows_.ShowWindow(window, command);
}

bool WindowSnapshot::BringWindowToTop(HWND window) {
    return windows_.BringWindowToTop(window);
}

}  // namespace orvel::platform
