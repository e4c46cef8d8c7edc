// The X11 window system against a real X server, bare and under openbox.

#include <gtest/gtest.h>
#include <signal.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "TempDir.h"
#include "XTestSupport.h"
#include "platform/linux/PosixProgramStarter.h"
#include "platform/linux/X11DisplayProbe.h"
#include "platform/linux/X11WindowSystem.h"
#include "tools/demotool/ToolTitles.h"

namespace orvel::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using xtest::Eventually;

// One Xvfb for the whole program; openbox comes and goes with the tests.
class XServerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        server = xtest::XServer::Start(why);
        if (server != nullptr) {
            setenv("DISPLAY", server->display().c_str(), 1);
            setenv("QT_QPA_PLATFORM", "xcb", 1);
        }
    }
    void TearDown() override { server.reset(); }

    std::unique_ptr<xtest::XServer> server;
    std::string why;
};
XServerEnvironment* environment =
    static_cast<XServerEnvironment*>(::testing::AddGlobalTestEnvironment(new XServerEnvironment));

enum class Manager { None, Openbox };

class X11WindowSystemTest : public ::testing::TestWithParam<Manager> {
  protected:
    void SetUp() override {
        if (environment->server == nullptr) GTEST_SKIP() << environment->why;
        xtest::XServer& server = *environment->server;
        if (GetParam() == Manager::Openbox) {
            std::string why;
            if (!server.StartWindowManager(why)) GTEST_SKIP() << why;
        } else if (server.HasWindowManager()) {
            server.StopWindowManager();
        }
        client_ = std::make_unique<xtest::XClient>(server.display());
        ASSERT_TRUE(client_->ok());
    }
    void TearDown() override {
        for (pid_t pid : started_) kill(pid, SIGKILL);
    }
    bool Managed() const { return GetParam() == Manager::Openbox; }

    HWND WaitFor(const std::string& title) {
        HWND window = 0;
        Eventually([&] { return (window = windows_.FindWindowA(title)) != 0; });
        return window;
    }
    bool Viewable(HWND window) { return client_->MapState(window) == XCB_MAP_STATE_VIEWABLE; }
    bool Listed(HWND window) {
        auto list = client_->Windows(client_->root(), "_NET_CLIENT_LIST");
        return std::find(list.begin(), list.end(), window) != list.end();
    }

    X11WindowSystem windows_;
    std::unique_ptr<xtest::XClient> client_;
    std::vector<pid_t> started_;
};

// Whole titles without regard to case, Latin-1 as UTF-8, minimised, hidden,
// framed and over-long windows: each title alone and the batch agree. The
// minimised and the hidden window are then shown again.
TEST_P(X11WindowSystemTest, FindsWholeTitlesAndShowsMinimisedAndHiddenWindows) {
    const HWND lower = client_->CreateWindow("Deck Main");
    const HWND upper = client_->CreateWindow("DECK MAIN");
    const HWND longer = client_->CreateWindow("Deck Main2");
    const HWND minimised = client_->CreateWindow("Card Health");
    const HWND hidden = client_->CreateWindow("Hidden Tool", false);
    const HWND wordy = client_->CreateWindow("Matrix Panel With A Rather Long Title Indeed");
    const HWND latin1 = client_->CreatePlainWindow(client_->root(), "Caf\xe9 Tool");
    HWND framed = 0;
    if (!Managed()) {
        // A reparenting manager without EWMH: no client list, the client lies
        // below an untitled frame and carries WM_STATE; a titled decoration does not count.
        const HWND frame = client_->CreatePlainWindow(client_->root(), "");
        client_->CreatePlainWindow(frame, "Title Bar");
        framed =
            client_->CreatePlainWindow(client_->CreatePlainWindow(frame, ""), "SoftDeck", true);
    } else {
        ASSERT_TRUE(Eventually([&] {
            return Listed(lower) && Listed(upper) && Listed(longer) && Listed(minimised) &&
                   Listed(wordy) && Listed(latin1);
        }));
        client_->Iconify(minimised);  // ICCCM WM_STATE 3 is iconic, 1 normal
        ASSERT_TRUE(Eventually([&] { return client_->Cardinal(minimised, "WM_STATE") == 3u; }));
    }
    const HWND deck = windows_.FindWindowA("deck main");
    EXPECT_TRUE(deck == lower || deck == upper);
    const struct {
        std::string_view title;
        HWND window;
    } cases[] = {{"DECK MAIN", deck},
                 {"Deck Main2", longer},
                 {"Deck Mai", 0},
                 {"eck Main2", 0},
                 {"Deck Main ", 0},
                 {"", 0},
                 {"card health", minimised},
                 {"hidden tool", hidden},
                 {"CAF\xc3\xa9 TOOL", latin1},
                 {"Matrix Panel", 0},
                 {"matrix panel with a rather long title indeed", wordy},
                 {"Nothing Here", 0},
                 {"softdeck", framed},
                 {"Title Bar", 0}};
    std::vector<std::string_view> titles;
    std::vector<HWND> alone;
    for (const auto& c : cases) {
        EXPECT_EQ(windows_.FindWindowA(c.title), c.window) << c.title;
        titles.push_back(c.title);
        alone.push_back(c.window);
    }
    EXPECT_EQ(windows_.FindWindows(titles), alone);
    // Only short titles asked for: the long one is still told apart.
    const std::vector<std::string_view> shortOnes{"Matrix Panel", "card health"};
    EXPECT_EQ(windows_.FindWindows(shortOnes), (std::vector<HWND>{0, minimised}));
    EXPECT_TRUE(windows_.FindWindows({}).empty());

    if (!Managed()) {
        // While a manager takes a window into a frame it is neither in the client
        // list nor a child of the root: a window found before is still found then,
        // and forgotten once it is gone.
        const HWND frame = client_->CreatePlainWindow(client_->root(), "");
        xcb_reparent_window(client_->connection(), longer, frame, 0, 0);
        client_->Flush();
        EXPECT_EQ(windows_.FindWindowA("Deck Main2"), longer);
        xcb_destroy_window(client_->connection(), frame);
        client_->Flush();
        EXPECT_TRUE(Eventually([&] { return windows_.FindWindowA("Deck Main2") == 0; }));
    }

    // Shown again: the minimised one de-iconified, the hidden one mapped (and managed).
    EXPECT_TRUE(windows_.ShowWindow(minimised, SW_SHOWNORMAL));
    EXPECT_TRUE(windows_.ShowWindow(hidden, SW_SHOWNORMAL));
    EXPECT_TRUE(Eventually([&] {
        return Viewable(minimised) && Viewable(hidden) &&
               (!Managed() || (client_->Cardinal(minimised, "WM_STATE") == 1u && Listed(hidden)));
    }));
    EXPECT_FALSE(windows_.ShowWindow(hidden, 0)) << "only SW_SHOWNORMAL is carried out";
    EXPECT_FALSE(windows_.ShowWindow(0x7ffffff, SW_SHOWNORMAL));
}

// A close request ends the stand-in through WM_DELETE_WINDOW; a window
// without that protocol is closed by the window manager.
TEST_P(X11WindowSystemTest, CloseRequestEndsTheProgram) {
    // Started as the console starts it: a copy under a suite program's name,
    // which also gives the stand-in its title.
    fakes::TempDir temp("orvel-x11");
    const fs::path program = temp.path() / "LinkCheck.exe";
    fs::copy_file(ORVEL_DEMO_TOOL, program);
    PosixProgramStarter starter;
    StartResult started = starter.Start(program.string(), 1);
    ASSERT_GT(started.pid, 0) << started.error;
    started_.push_back(started.pid);
    const HWND window = WaitFor("LinkCheck");
    EXPECT_NE(window, 0u);
    EXPECT_EQ(client_->Cardinal(window, "_NET_WM_PID"), static_cast<std::uint32_t>(started.pid));

    EXPECT_FALSE(windows_.PostMessageA(window, 0x0112, 0, 0)) << "only WM_CLOSE is carried out";
    EXPECT_TRUE(windows_.PostMessageA(window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(xtest::ProcessEndedWithin(started.pid, 20s));
    EXPECT_EQ(windows_.FindWindowA("LinkCheck"), 0u);
    EXPECT_FALSE(windows_.PostMessageA(window, WM_CLOSE, 0, 0)) << "the window is gone";

    if (!Managed()) return;  // without a window manager nobody closes the other
    xtest::XClient owner(environment->server->display());  // the manager ends the whole client
    const HWND bare = owner.CreateWindow("Rewire Utility", true, false);
    ASSERT_TRUE(Eventually([&] { return Listed(bare); }));
    EXPECT_TRUE(windows_.PostMessageA(bare, WM_CLOSE, 0, 0));
    EXPECT_TRUE(Eventually([&] { return client_->MapState(bare) == -1; }));
}

// The lookup scans from the top, so of two equal titles the one brought to
// the top wins: here a program's window and a plain one, taking turns.
TEST_P(X11WindowSystemTest, BringToTopPutsTheWindowAboveTheOthers) {
    const xtest::Child tool(ORVEL_DEMO_TOOL, {"--title", "ConfLoad"});
    const HWND program = WaitFor("ConfLoad");
    const HWND plain = client_->CreateWindow("ConfLoad");
    ASSERT_TRUE(Eventually([&] {
        return program != 0 && Viewable(program) && Viewable(plain) &&
               (!Managed() || (Listed(program) && Listed(plain)));
    }));
    for (HWND top : {program, plain, program}) {
        EXPECT_TRUE(windows_.BringWindowToTop(top));
        EXPECT_TRUE(Eventually([&] { return windows_.FindWindowA("confload") == top; }))
            << "window " << top << " did not come to the top";
    }
    EXPECT_FALSE(windows_.BringWindowToTop(0));
}

INSTANTIATE_TEST_SUITE_P(Windows, X11WindowSystemTest,
                         ::testing::Values(Manager::None, Manager::Openbox), [](const auto& info) {
                             return info.param == Manager::None ? "BareServer" : "Openbox";
                         });

TEST(DemoToolTest, RefusesUnknownArgumentsAndNamesWithoutTitle) {
    // Without --title the program's own name must be a suite program's.
    for (const std::vector<const char*>& arguments :
         std::vector<std::vector<const char*>>{{"orvel-demo-tool", "--colour", "red"},
                                               {"orvel-demo-tool"},
                                               {"orvel-demo-tool", "--title="},
                                               {"orvel-demo-tool", "--title"}}) {
        const tools::ToolOptions options = tools::ParseToolArguments(
            static_cast<int>(arguments.size()), arguments.data(), arguments[0]);
        EXPECT_FALSE(options.error.empty()) << ::testing::PrintToString(arguments);
    }
    EXPECT_EQ(tools::ParseToolArguments(2, std::array{"x", "--title=A"}.data(), "x").title, "A");
}

// The X server goes away and comes back: every call answers 0 or false
// meanwhile, without a crash, and the lookups find windows again on the new
// server.
TEST(X11WindowSystemReconnectTest, LostConnectionIsOpenedAgain) {
    std::string why;
    auto server = xtest::XServer::Start(why);
    if (server == nullptr) GTEST_SKIP() << why;
    const int number = server->number();
    X11WindowSystem windows(server->display());
    HWND first = 0;
    {
        xtest::XClient owner(server->display());
        first = owner.CreateWindow("JournalView");
        EXPECT_EQ(windows.FindWindowA("JournalView"), first);
        server.reset();  // the server ends while both connections are open
    }
    EXPECT_EQ(windows.FindWindowA("JournalView"), 0u);
    const std::vector<std::string_view> titles{"JournalView", ""};
    EXPECT_EQ(windows.FindWindows(titles), std::vector<HWND>(2, 0));
    EXPECT_FALSE(windows.BringWindowToTop(first));
    EXPECT_FALSE(windows.PostMessageA(first, WM_CLOSE, 0, 0));
    EXPECT_FALSE(windows.ShowWindow(first, SW_SHOWNORMAL));

    server = xtest::XServer::Start(why, number);
    if (server == nullptr) GTEST_SKIP() << "display " << number << " was taken: " << why;
    xtest::XClient owner(server->display());
    const HWND second = owner.CreateWindow("JournalView");
    EXPECT_EQ(windows.FindWindowA("journalview"), second);
}

// The console's display check keeps its connection until Qt has its own: an
// X server without other clients resets when its last client leaves, and a
// connection made during the reset fails (Qt then aborted the console without
// a word). What a client made survives the client while the check holds on.
TEST(X11DisplayConnectionTest, HeldUntilClosedSoTheServerDoesNotReset) {
    std::string why;
    auto server = xtest::XServer::Start(why);
    if (server == nullptr) GTEST_SKIP() << why;
    const char* before = std::getenv("DISPLAY");
    const std::string saved = before != nullptr ? before : "";
    setenv("DISPLAY", server->display().c_str(), 1);
    X11DisplayConnection held;
    ASSERT_TRUE(held.Open());
    {
        xtest::XClient marker(server->display());
        ASSERT_TRUE(marker.ok());
        marker.Atom("ORVEL_DISPLAY_HOLD_MARK");
    }
    xtest::XClient later(server->display());
    ASSERT_TRUE(later.ok());
    const char* name = "ORVEL_DISPLAY_HOLD_MARK";
    auto cookie =
        xcb_intern_atom(later.connection(), 1, static_cast<std::uint16_t>(strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(
        xcb_intern_atom_reply(later.connection(), cookie, nullptr), &free);
    ASSERT_NE(reply, nullptr);
    EXPECT_NE(reply->atom, static_cast<xcb_atom_t>(XCB_ATOM_NONE)) << "the server was reset";
    held.Close();

    setenv("DISPLAY", ":-1", 1);
    EXPECT_FALSE(held.Open()) << "no such display";
    if (before != nullptr) {
        setenv("DISPLAY", saved.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
}

}  // namespace
}  // namespace orvel::platform
