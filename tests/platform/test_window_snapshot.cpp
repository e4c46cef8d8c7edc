#include <gtest/gtest.h>

#include "FakeWindowSystem.h"
#include "platform/WindowSnapshot.h"

namespace orvel::platform {
namespace {

TEST(WindowSnapshot, AnswersItsTitlesFromOneLookAndPassesTheRestOn) {
    fakes::FakeWindowSystem windows;
    const HWND deck = windows.AddWindow("DeskMain");
    const HWND card = windows.AddWindow("Card Health");

    WindowSnapshot now(windows, {"deskmain", "", "Port Set Editor", "Card Health"});
    const int lookups = windows.lookups;
    EXPECT_EQ(lookups, 4) << "the window system's batched lookup, one answer per title";
    windows.RemoveWindow(card);
    EXPECT_EQ(now.FindWindowA("deskmain"), deck);
    EXPECT_EQ(now.FindWindowA("Card Health"), card) << "answered as the windows were at the look";
    EXPECT_EQ(now.FindWindowA("Port Set Editor"), 0u);
    EXPECT_EQ(now.FindWindowA(""), 0u);
    EXPECT_EQ(windows.lookups, lookups);

    // Another title is looked up afresh; the other operations go through.
    EXPECT_EQ(now.FindWindowA("DESKMAIN"), deck);
    EXPECT_EQ(now.FindWindowA("Card Health "), 0u);
    EXPECT_EQ(windows.lookups, lookups + 2);
    EXPECT_TRUE(now.ShowWindow(deck, SW_SHOWNORMAL));
    EXPECT_TRUE(now.BringWindowToTop(deck));
    EXPECT_TRUE(now.PostMessageA(deck, WM_CLOSE, 0, 0));
    EXPECT_EQ(windows.shown.size(), 1u);
    EXPECT_EQ(windows.raised, std::vector<HWND>{deck});
    EXPECT_EQ(windows.closed, std::vector<HWND>{deck});
}

}  // namespace
}  // namespace orvel::platform
