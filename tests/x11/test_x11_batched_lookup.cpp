// The batched lookup against a real X server: for every title it answers
// exactly what a lookup of that title alone answers, with and without a
// window manager, for equal titles, hidden, minimised, Latin-1, framed and
// over-long titles.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "XTestSupport.h"
#include "platform/linux/X11WindowSystem.h"

namespace orvel::platform {
namespace {

using xtest::Eventually;

std::vector<HWND> OneByOne(X11WindowSystem& windows, const std::vector<std::string_view>& titles) {
    std::vector<HWND> found;
    for (std::string_view title : titles) found.push_back(windows.FindWindowA(title));
    return found;
}

TEST(X11BatchedLookupTest, AnswersWhatEachTitleAloneAnswers) {
    std::string why;
    auto server = xtest::XServer::Start(why);
    if (server == nullptr) GTEST_SKIP() << why;
    xtest::XClient client(server->display());
    ASSERT_TRUE(client.ok());
    xcb_connection_t* c = client.connection();
    X11WindowSystem windows(server->display());

    const HWND lower = client.CreateWindow("Deck Main");
    const HWND upper = client.CreateWindow("DECK MAIN");
    const HWND longer = client.CreateWindow("Deck Main2");
    const HWND minimised = client.CreateWindow("Card Health");
    const HWND hidden = client.CreateWindow("Hidden Tool", false);
    const HWND wordy = client.CreateWindow("Matrix Panel With A Rather Long Title Indeed");
    const std::string latin1 = "Caf\xe9 Tool";
    const xcb_window_t plain = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, plain, client.root(), 0, 0, 50, 50, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, plain, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(latin1.size()), latin1.data());
    // A client below an untitled frame, marked by WM_STATE (a manager without EWMH).
    const xcb_window_t frame = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, frame, client.root(), 0, 0, 40, 40, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_window_t framed = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, framed, frame, 0, 0, 40, 40, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::string framedTitle = "SoftDeck";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, framed, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(framedTitle.size()), framedTitle.data());
    const std::uint32_t state[2] = {1, 0};
    const xcb_atom_t wmState = client.Atom("WM_STATE");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, framed, wmState, wmState, 32, 2, state);
    xcb_map_window(c, framed);
    xcb_map_window(c, frame);
    client.Flush();

    const std::vector<std::string_view> titles{"deck main",
                                               "Deck Main2",
                                               "",
                                               "Card Health",
                                               "hidden tool",
                                               "CAF\xc3\xa9 TOOL",
                                               "Matrix Panel",
                                               "matrix panel with a rather long title indeed",
                                               "Nothing Here",
                                               "DECK MAIN",
                                               "softdeck",
                                               "Deck Mai"};

    for (bool managed : {false, true}) {
        SCOPED_TRACE(managed ? "openbox" : "bare server");
        if (managed) {
            if (!server->StartWindowManager(why)) GTEST_SKIP() << why;
            ASSERT_TRUE(Eventually([&] {
                auto list = client.Windows(client.root(), "_NET_CLIENT_LIST");
                return std::find(list.begin(), list.end(), minimised) != list.end() &&
                       std::find(list.begin(), list.end(), upper) != list.end();
            }));
            client.Iconify(minimised);
            ASSERT_TRUE(Eventually([&] { return client.WmState(minimised) == 3; }));
        }
        const std::vector<HWND> alone = OneByOne(windows, titles);
        EXPECT_EQ(windows.FindWindows(titles), alone);
        // The comparison is not an empty one: the windows are there to be found.
        EXPECT_TRUE(alone[0] == lower || alone[0] == upper);
        EXPECT_EQ(alone[1], longer);
        EXPECT_EQ(alone[2], 0u);
        EXPECT_EQ(alone[3], minimised);
        EXPECT_EQ(alone[4], hidden);
        EXPECT_EQ(alone[5], plain);
        EXPECT_EQ(alone[6], 0u);
        EXPECT_EQ(alone[7], wordy);
        EXPECT_EQ(alone[8], 0u);
        EXPECT_EQ(alone[9], alone[0]);
        EXPECT_EQ(alone[11], 0u);
        if (!managed) {
            EXPECT_EQ(alone[10], framed);
        }
        // Only short titles asked for: the long one is still told apart.
        const std::vector<std::string_view> shortOnes{"Matrix Panel", "card health"};
        EXPECT_EQ(windows.FindWindows(shortOnes), OneByOne(windows, shortOnes));
        EXPECT_TRUE(windows.FindWindows({}).empty());
    }

    X11WindowSystem noDisplay(":4711");
    EXPECT_EQ(noDisplay.FindWindows(titles), std::vector<HWND>(titles.size(), 0));
}

}  // namespace
}  // namespace orvel::platform
