#include "FakeWindowSystem.h"

#include <algorithm>

namespace orvel::fakes {

namespace {
std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return upper;
}
}  // namespace

platform::HWND FakeWindowSystem::AddWindow(const std::string& title, platform::HWND handle) {
    if (handle == 0) handle = nextHandle_++;
    windows_[Upper(title)] = handle;
    return handle;
}

void FakeWindowSystem::RemoveWindow(platform::HWND handle) {
    std::erase_if(windows_, [handle](const auto& entry) { return entry.second == handle; });
}

platform::HWND FakeWindowSystem::FindWindowA(std::string_view title) {
    ++lookups;
    titlesAsked.emplace_back(title);
    if (title.empty()) return 0;
    auto it = windows_.find(Upper(title));
    return it == windows_.end() ? 0 : it->second;
}

bool FakeWindowSystem::PostMessageA(platform::HWND window, unsigned message, std::intptr_t,
                                    std::intptr_t) {
    if (message != platform::WM_CLOSE) return false;
    bool exists = std::any_of(windows_.begin(), windows_.end(),
                              [window](const auto& entry) { return entry.second == window; });
    closed.push_back(window);
    if (exists && closeRemovesWindow) RemoveWindow(window);
    return exists;
}

bool FakeWindowSystem::ShowWindow(platform::HWND window, int command) {
    shown.emplace_back(window, command);
    return window != 0;
}

bool FakeWindowSystem::BringWindowToTop(platform::HWND window) {
    raised.push_back(window);
    return window != 0;
}

}  // namespace orvel::fakes
