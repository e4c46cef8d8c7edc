#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/WindowSystem.h"

struct xcb_connection_t;

namespace orvel::platform {

// Top-level windows of the X display, through xcb with the EWMH and ICCCM
// conventions. The X window id is the handle.
//
// The search runs from the top of the stacking order, as FindWindowA did:
// first the window manager's clients (_NET_CLIENT_LIST_STACKING, else
// _NET_CLIENT_LIST), then the root's children, which are the top-level
// windows on a bare X server and, under a manager, the windows their programs
// hid (withdrawn windows leave the client list but keep their title). Without
// a client list, untitled root children are searched below for a client
// carrying WM_STATE (a reparenting manager without EWMH). All requests of one
// step go out before the first reply is read: two or three round trips in all.
//
// The connection opens on first use. Without a display every lookup answers
// 0 and every request false; a connection lost on the way is dropped and
// opened afresh by the next call.
class X11WindowSystem final : public WindowSystem {
  public:
    // displayName as in DISPLAY (":0"); empty takes the DISPLAY environment.
    explicit X11WindowSystem(std::string displayName = {});
    ~X11WindowSystem() override;
    X11WindowSystem(const X11WindowSystem&) = delete;
    X11WindowSystem& operator=(const X11WindowSystem&) = delete;

    // The topmost window whose whole title (_NET_WM_NAME, else WM_NAME)
    // equals title without regard to ASCII letter case; 0 when none, for an
    // empty title, or without a display.
    HWND FindWindowA(std::string_view title) override;
    // Every title's FindWindowA from one pass: the window list and the titles
    // are fetched once for all of them.
    std::vector<HWND> FindWindows(std::span<const std::string_view> titles) override;
    // WM_CLOSE: WM_DELETE_WINDOW when the window takes it, else
    // _NET_CLOSE_WINDOW to the window manager. False for another message or
    // a window that does not exist.
    bool PostMessageA(HWND window, unsigned message, std::intptr_t wParam,
                      std::intptr_t lParam) override;
    // SW_SHOWNORMAL: map (which also de-iconifies), drop the maximised
    // state, activate. False for another command or a window that does not exist.
    bool ShowWindow(HWND window, int command) override;
    // Activation through the window manager (as a pager, which focus-stealing
    // prevention lets through) and a raise to the top of the stacking order.
    bool BringWindowToTop(HWND window) override;

  private:
    struct Atoms {
        std::uint32_t utf8String = 0;
        std::uint32_t netWmName = 0;
        std::uint32_t wmState = 0;
        std::uint32_t wmProtocols = 0;
        std::uint32_t wmDeleteWindow = 0;
        std::uint32_t netCloseWindow = 0;
        std::uint32_t netActiveWindow = 0;
        std::uint32_t netWmState = 0;
        std::uint32_t netWmStateMaximizedVert = 0;
        std::uint32_t netWmStateMaximizedHorz = 0;
        std::uint32_t netClientListStacking = 0;
        std::uint32_t netClientList = 0;
    };

    bool Connect();
    void Disconnect();
    // False (and the connection dropped) when the connection broke.
    bool Healthy();
    bool WindowExists(HWND window);
    void RecheckMisses(const std::vector<std::string>& folded, std::uint32_t titleUnits,
                       std::vector<HWND>& found);
    void SendToRoot(HWND window, std::uint32_t type, std::uint32_t d0, std::uint32_t d1,
                    std::uint32_t d2, std::uint32_t d3);

    std::string displayName_;
    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    Atoms atoms_;
    // The window each title was last found as (titles folded to lower case).
    std::unordered_map<std::string, std::uint32_t> lastFound_;
};

}  // namespace orvel::platform
