#pragma once

// Test support for the X11 tests and benchmarks: an own Xvfb, openbox on it
// when asked, child programs, and a plain xcb client that makes and inspects
// windows.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct xcb_connection_t;

namespace orvel::xtest {

// A program started with posix_spawnp, its output on /dev/null (standard
// error too unless ORVEL_XTEST_VERBOSE is set); ended and reaped when dropped.
class Child {
  public:
    // passFd: a descriptor it gets as 3.
    Child(const std::string& program, const std::vector<std::string>& arguments, int passFd = -1);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

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

    const std::string& display() const { return display_; }
    int number() const { return number_; }

    // openbox on this display, started once and waited for until it manages.
    bool StartWindowManager(std::string& why);
    void StopWindowManager();
    bool HasWindowManager() const { return windowManager_ != nullptr; }

  private:
    XServer() = default;
    std::unique_ptr<Child> server_;
    std::unique_ptr<Child> windowManager_;  // declared last: it ends first
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
    // A mapped window below parent with only a WM_NAME of type STRING (Latin-1),
    // none when title is empty; WM_STATE normal when asked.
    std::uint32_t CreatePlainWindow(std::uint32_t parent, const std::string& title,
                                    bool wmState = false);
    // A 32-bit list property (windows, cardinals), empty when missing.
    std::vector<std::uint32_t> Windows(std::uint32_t window, const char* property);
    std::optional<std::uint32_t> Cardinal(std::uint32_t window, const char* property) {
        const std::vector<std::uint32_t> values = Windows(window, property);
        return values.empty() ? std::nullopt : std::optional(values.front());
    }
    // XCB_MAP_STATE_*; -1 when the window is gone.
    int MapState(std::uint32_t window);
    void Iconify(std::uint32_t window);
    void Flush();

  private:
    // A window below parent with WM_NAME of type STRING unless title is empty.
    std::uint32_t NewWindow(std::uint32_t parent, const std::string& title);

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
};

// Polls condition every few milliseconds until it holds or the limit passes.
template <typename Condition>
bool Eventually(Condition condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace orvel::xtest
