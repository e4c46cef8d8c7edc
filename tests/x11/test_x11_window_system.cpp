#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>

#include "TempDir.h"
#include "XTestSupport.h"
#include "platform/linux/PosixProgramStarter.h"
#include "platform/linux/X11WindowSystem.h"

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
XServerEnvironment* environment = nullptr;

enum class Manager { None, Openbox };

std::string ManagerName(const ::testing::TestParamInfo<Manager>& info) {
    return info.param == Manager::None ? "BareServer" : "Openbox";
}

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
        tools_.clear();
        for (pid_t pid : started_) kill(pid, SIGKILL);
    }
    bool Managed() const { return GetParam() == Manager::Openbox; }

    xtest::Child& Tool(const std::string& title) {
        tools_.emplace_back(ORVEL_DEMO_TOOL, std::vector<std::string>{"--title", title});
        return tools_.back();
    }
    // The window appears once the stand-in is up.
    HWND WaitFor(const std::string& title) {
        HWND window = 0;
        Eventually([&] { return (window = windows_.FindWindowA(title)) != 0; });
        return window;
    }
    pid_t PidOf(HWND window) {
        return static_cast<pid_t>(client_->Cardinal(window, "_NET_WM_PID").value_or(0));
    }
    // True when a is above b in the stacking order.
    bool Above(HWND a, HWND b) {
        std::vector<std::uint32_t> order;
        if (Managed()) {
            order = client_->Windows(client_->root(), "_NET_CLIENT_LIST_STACKING");
        } else {
            order = client_->RootChildren();
        }
        auto ia = std::find(order.begin(), order.end(), a);
        auto ib = std::find(order.begin(), order.end(), b);
        return ia != order.end() && ib != order.end() && ia > ib;
    }
    bool ManagedByWindowManager(HWND window) {
        auto list = client_->Windows(client_->root(), "_NET_CLIENT_LIST");
        return std::find(list.begin(), list.end(), window) != list.end();
    }

    X11WindowSystem windows_;
    std::unique_ptr<xtest::XClient> client_;
    std::deque<xtest::Child> tools_;
    std::vector<pid_t> started_;
    fakes::TempDir temp_{"orvel-x11"};
    fs::path folder_ = temp_.path();
};

TEST_P(X11WindowSystemTest, WholeTitleMatchesWithoutRegardToCase) {
    xtest::Child& longer = Tool("DeskMain2");
    xtest::Child& upper = Tool("DESKMAIN");
    const HWND longerWindow = WaitFor("DeskMain2");
    const HWND upperWindow = WaitFor("DESKMAIN");
    ASSERT_NE(longerWindow, 0u);
    ASSERT_NE(upperWindow, 0u);
    EXPECT_EQ(PidOf(longerWindow), longer.pid());
    EXPECT_EQ(PidOf(upperWindow), upper.pid());
    // While the manager takes a new window into a frame it is briefly in
    // neither list; wait for both to be managed before comparing lookups.
    if (Managed()) {
        ASSERT_TRUE(Eventually([&] {
            return ManagedByWindowManager(longerWindow) && ManagedByWindowManager(upperWindow);
        }));
    }

    EXPECT_EQ(windows_.FindWindowA("DeskMain"), upperWindow);
    EXPECT_EQ(windows_.FindWindowA("deskmain2"), longerWindow);
    EXPECT_EQ(windows_.FindWindowA("DeskMai"), 0u);
    EXPECT_EQ(windows_.FindWindowA("eskMain"), 0u);
    EXPECT_EQ(windows_.FindWindowA("DeskMain "), 0u);
    EXPECT_EQ(windows_.FindWindowA(""), 0u);

    // Titles in Latin-1 (WM_NAME only) and UTF-8 (_NET_WM_NAME) compare alike.
    const std::string latin1 = "Caf\xe9 Tool";
    xcb_window_t plain = xcb_generate_id(client_->connection());
    xcb_create_window(client_->connection(), XCB_COPY_FROM_PARENT, plain, client_->root(), 0, 0, 50,
                      50, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_change_property(client_->connection(), XCB_PROP_MODE_REPLACE, plain, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(latin1.size()),
                        latin1.data());
    client_->Flush();
    EXPECT_EQ(WaitFor("CAF\xc3\xa9 TOOL"), plain);
    xcb_destroy_window(client_->connection(), plain);
    client_->Flush();
}

TEST_P(X11WindowSystemTest, MinimisedAndHiddenWindowsAreFoundAndShownAgain) {
    Tool("Card Health");
    const HWND window = WaitFor("Card Health");
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(Eventually([&] { return client_->MapState(window) == XCB_MAP_STATE_VIEWABLE; }));

    if (Managed()) {
        client_->Iconify(window);
        ASSERT_TRUE(Eventually([&] { return client_->WmState(window) == 3; }));
        EXPECT_EQ(windows_.FindWindowA("card health"), window);
        EXPECT_TRUE(windows_.ShowWindow(window, SW_SHOWNORMAL));
        EXPECT_TRUE(Eventually([&] {
            return client_->WmState(window) == 1 &&
                   client_->MapState(window) == XCB_MAP_STATE_VIEWABLE;
        }));
    }

    // Withdrawn (hidden by its program): no longer in the manager's list, still found.
    client_->Unmap(window, Managed());
    ASSERT_TRUE(Eventually([&] {
        return client_->MapState(window) != XCB_MAP_STATE_VIEWABLE &&
               (!Managed() || !ManagedByWindowManager(window));
    }));
    EXPECT_EQ(windows_.FindWindowA("CARD HEALTH"), window);
    EXPECT_TRUE(windows_.ShowWindow(window, SW_SHOWNORMAL));
    EXPECT_TRUE(Eventually([&] { return client_->MapState(window) == XCB_MAP_STATE_VIEWABLE; }));
    if (Managed()) {
        EXPECT_TRUE(Eventually([&] { return ManagedByWindowManager(window); }));
    }

    EXPECT_FALSE(windows_.ShowWindow(window, 0)) << "only SW_SHOWNORMAL is carried out";
    EXPECT_FALSE(windows_.ShowWindow(0x7ffffff, SW_SHOWNORMAL));
}

TEST_P(X11WindowSystemTest, CloseRequestEndsTheStandIn) {
    // Started as the console starts it: a copy under a suite program's name,
    // which also gives the stand-in its title.
    const fs::path program = folder_ / "LinkCheck.exe";
    fs::copy_file(ORVEL_DEMO_TOOL, program);
    PosixProgramStarter starter;
    StartResult started = starter.Start(program.string(), 1);
    ASSERT_GT(started.pid, 0) << started.error;
    started_.push_back(started.pid);
    const HWND window = WaitFor("LinkCheck");
    ASSERT_NE(window, 0u);
    EXPECT_EQ(PidOf(window), started.pid);

    EXPECT_FALSE(windows_.PostMessageA(window, 0x0112, 0, 0)) << "only WM_CLOSE is carried out";
    EXPECT_TRUE(windows_.PostMessageA(window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(xtest::ProcessEndedWithin(started.pid, 20s));
    EXPECT_EQ(windows_.FindWindowA("LinkCheck"), 0u);
    EXPECT_FALSE(windows_.PostMessageA(window, WM_CLOSE, 0, 0)) << "the window is gone";
}

TEST_P(X11WindowSystemTest, WindowWithoutDeleteProtocolIsClosedByTheManager) {
    if (!Managed()) GTEST_SKIP() << "without a window manager nobody closes such a window";
    // Its own connection: the manager ends the whole client.
    xtest::XClient owner(environment->server->display());
    const HWND window = owner.CreateWindow("Rewire Utility", true, false);
    ASSERT_EQ(WaitFor("Rewire Utility"), window);
    ASSERT_TRUE(Eventually([&] { return ManagedByWindowManager(window); }));
    EXPECT_TRUE(windows_.PostMessageA(window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(Eventually([&] { return client_->MapState(window) == -1; }));
}

TEST_P(X11WindowSystemTest, BringToTopPutsTheWindowAboveTheOthersAndWinsEqualTitles) {
    Tool("Recorder");
    Tool("State Keeper");
    const HWND recorder = WaitFor("Recorder");
    const HWND keeper = WaitFor("State Keeper");
    ASSERT_NE(recorder, 0u);
    ASSERT_NE(keeper, 0u);
    auto topLevel = [&](HWND w) { return Managed() ? w : client_->TopLevelAncestor(w); };
    ASSERT_TRUE(Eventually([&] {
        return client_->MapState(recorder) == XCB_MAP_STATE_VIEWABLE &&
               client_->MapState(keeper) == XCB_MAP_STATE_VIEWABLE;
    }));
    for (HWND top : {recorder, keeper, recorder}) {
        const HWND other = top == recorder ? keeper : recorder;
        EXPECT_TRUE(windows_.BringWindowToTop(top));
        EXPECT_TRUE(Eventually([&] { return Above(topLevel(top), topLevel(other)); }))
            << "window " << top << " did not come to the top";
    }
    EXPECT_FALSE(windows_.BringWindowToTop(0));

    // The lookup scans from the top: with equal titles the top one wins.
    const HWND first = client_->CreateWindow("ConfLoad");
    const HWND second = client_->CreateWindow("ConfLoad");
    ASSERT_TRUE(Eventually([&] {
        return client_->MapState(first) == XCB_MAP_STATE_VIEWABLE &&
               client_->MapState(second) == XCB_MAP_STATE_VIEWABLE;
    }));
    for (HWND top : {first, second}) {
        const HWND other = top == first ? second : first;
        windows_.BringWindowToTop(top);
        ASSERT_TRUE(Eventually([&] { return Above(topLevel(top), topLevel(other)); }));
        EXPECT_EQ(windows_.FindWindowA("confload"), top);
    }
    xcb_destroy_window(client_->connection(), first);
    xcb_destroy_window(client_->connection(), second);
    client_->Flush();
}

// A reparenting manager without EWMH: no client list, the client lies below
// an untitled frame and carries WM_STATE; a titled decoration does not count.
TEST_P(X11WindowSystemTest, ClientBelowAFrameIsFoundByItsWmState) {
    if (Managed()) GTEST_SKIP() << "built by hand on the bare server";
    xcb_connection_t* c = client_->connection();
    auto child = [&](xcb_window_t parent, const std::string& title, bool wmState) {
        xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, parent, 0, 0, 40, 40, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        if (!title.empty()) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                                static_cast<std::uint32_t>(title.size()), title.data());
        }
        if (wmState) {
            const std::uint32_t state[2] = {1, 0};
            const xcb_atom_t atom = client_->Atom("WM_STATE");
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom, atom, 32, 2, state);
        }
        xcb_map_window(c, w);
        return w;
    };
    const xcb_window_t frame = child(client_->root(), "", false);
    const xcb_window_t decoration = child(frame, "Title Bar", false);
    const xcb_window_t wrapper = child(frame, "", false);
    const xcb_window_t tool = child(wrapper, "MatrixPanel", true);
    client_->Flush();
    EXPECT_EQ(WaitFor("matrixpanel"), tool);
    EXPECT_EQ(windows_.FindWindowA("Title Bar"), 0u);
    (void)decoration;
    xcb_destroy_window(c, frame);
    client_->Flush();
}

// While a manager takes a window into a frame it is neither in the client
// list nor a child of the root; a window found before is still found then,
// and forgotten once it is gone.
TEST_P(X11WindowSystemTest, WindowBeingFramedIsStillFoundUntilItIsGone) {
    if (Managed()) GTEST_SKIP() << "the moment of framing is built by hand on the bare server";
    xcb_connection_t* c = client_->connection();
    auto create = [&](xcb_window_t parent, const std::string& title) {
        xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, parent, 0, 0, 40, 40, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            static_cast<std::uint32_t>(title.size()), title.data());
        xcb_map_window(c, w);
        return w;
    };
    const xcb_window_t tool = create(client_->root(), "Rewire Utility");
    client_->Flush();
    ASSERT_EQ(WaitFor("Rewire Utility"), tool);

    const xcb_window_t frame = create(client_->root(), "");
    xcb_reparent_window(c, tool, frame, 0, 0);
    client_->Flush();
    EXPECT_EQ(windows_.FindWindowA("REWIRE UTILITY"), tool);

    xcb_destroy_window(c, frame);
    client_->Flush();
    EXPECT_TRUE(xtest::Eventually([&] { return windows_.FindWindowA("Rewire Utility") == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Windows, X11WindowSystemTest,
                         ::testing::Values(Manager::None, Manager::Openbox), ManagerName);

TEST(X11WindowSystemWithoutDisplayTest, NothingIsFoundAndNothingCrashes) {
    const char* saved = std::getenv("DISPLAY");
    const std::string previous = saved != nullptr ? saved : "";
    unsetenv("DISPLAY");
    X11WindowSystem noDisplay;
    EXPECT_EQ(noDisplay.FindWindowA("DeskMain"), 0u);
    EXPECT_FALSE(noDisplay.PostMessageA(0x200001, WM_CLOSE, 0, 0));
    EXPECT_FALSE(noDisplay.ShowWindow(0x200001, SW_SHOWNORMAL));
    EXPECT_FALSE(noDisplay.BringWindowToTop(0x200001));
    if (saved != nullptr) setenv("DISPLAY", previous.c_str(), 1);

    X11WindowSystem unreachable(":4711");
    EXPECT_EQ(unreachable.FindWindowA("DeskMain"), 0u);
    EXPECT_EQ(unreachable.FindWindowA("DeskMain"), 0u);
    X11WindowSystem malformed("not a display");
    EXPECT_EQ(malformed.FindWindowA("DeskMain"), 0u);
}

TEST(DemoToolTest, RefusesUnknownArgumentsAndNamesWithoutTitle) {
    // Without --title the program's own name must be a suite program's.
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--colour", "red"}, {}, {"--title="}, {"--title"}}) {
        xtest::Child tool(ORVEL_DEMO_TOOL, arguments);
        ASSERT_GT(tool.pid(), 0);
        EXPECT_EQ(tool.ExitCodeWithin(20s), 2) << ::testing::PrintToString(arguments);
    }
}

// The X server goes away and comes back: the lookups answer 0 meanwhile and
// find windows again on the new server.
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
    EXPECT_FALSE(windows.BringWindowToTop(first));
    EXPECT_FALSE(windows.PostMessageA(first, WM_CLOSE, 0, 0));
    EXPECT_EQ(windows.FindWindowA("JournalView"), 0u);

    server = xtest::XServer::Start(why, number);
    if (server == nullptr) GTEST_SKIP() << "display " << number << " was taken: " << why;
    xtest::XClient owner(server->display());
    const HWND second = owner.CreateWindow("JournalView");
    EXPECT_EQ(windows.FindWindowA("journalview"), second);
}

}  // namespace
}  // namespace orvel::platform

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    orvel::platform::environment = static_cast<orvel::platform::XServerEnvironment*>(
        ::testing::AddGlobalTestEnvironment(new orvel::platform::XServerEnvironment));
    return RUN_ALL_TESTS();
}
