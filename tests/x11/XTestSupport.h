#pragma once

// Test support for the X11 window tests and benchmarks: an own Xvfb, an
// optional openbox on it, child programs, and a plain xcb client that creates
// and inspects windows.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace orvel::xtest {

// A child process started with posix_spawn; killed and reaped when dropped.
class Child {
  public:
    Child() = default;
    // Starts program with arguments and extra environment entries ("K=V").
    Child(const std::string& program, const std::vector<std::string>& arguments,
          const std::vector<std::string>& environment = {}, int passFd = -1);
    ~Child();
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;

    pid_t pid() const { return pid_; }
    // True once the child ended (it is then reaped).
    bool EndedWithin(std::chrono::milliseconds limit);
    // The exit code once the child ended by itself; -1 when it did not in time
    // or was killed.
    int ExitCodeWithin(std::chrono::milliseconds limit);
    void Stop();

  private:
    pid_t pid_ = 0;
};

// True once /proc has no live process pid (gone or a zombie).
bool ProcessEndedWithin(pid_t pid, std::chrono::milliseconds limit);

class XServer {
  public:
    // Starts Xvfb on a free display (displayNumber < 0) or on the given one;
    // nullptr with the reason when Xvfb is missing or did not come up.
    static std::unique_ptr<XServer> Start(std::string& why, int displayNumber = -1);
    ~XServer();

    const std::string& display() const { return display_; }
    int number() const { return number_; }

    // openbox on this display, started once and waited for until it manages.
    bool StartWindowManager(std::string& why);
    void StopWindowManager();
    bool HasWindowManager() const { return windowManager_.pid() > 0; }

  private:
    XServer() = default;
    Child server_;
    Child windowManager_;
    std::string display_;
    int number_ = -1;
};

// A plain xcb connection for setting up and checking what the tests expect.
class XClient {
  public:
    explicit XClient(const std::string& display);
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool ok() const;
    xcb_connection_t* connection() const { return connection_; }
    std::uint32_t root() const { return root_; }
    std::uint32_t Atom(const char* name);

    // A top-level window with WM_NAME and _NET_WM_NAME; mapped when asked.
    std::uint32_t CreateWindow(const std::string& title, bool map = true,
                               bool deleteProtocol = true);
    std::optional<std::uint32_t> Cardinal(std::uint32_t window, const char* property);
    std::vector<std::uint32_t> Windows(std::uint32_t window, const char* property);
    // The root's children, bottom to top.
    std::vector<std::uint32_t> RootChildren();
    // XCB_MAP_STATE_*; -1 when the window is gone.
    int MapState(std::uint32_t window);
    // ICCCM WM_STATE: 0 withdrawn/none, 1 normal, 3 iconic.
    int WmState(std::uint32_t window);
    // The root child that holds window (itself without a window manager).
    std::uint32_t TopLevelAncestor(std::uint32_t window);
    void Unmap(std::uint32_t window, bool withdrawFromWindowManager);
    void Iconify(std::uint32_t window);
    void Flush();

  private:
    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
};

// A few milliseconds' pause between two polls.
void PauseBriefly();

// Polls condition until it holds or the limit passes.
template <typename Condition>
bool Eventually(Condition condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        PauseBriefly();
    }
}
}  // namespace orvel::xtest
