#include <QFont>

#include "MainWindowFixture.h"
#include "mainwindow/WindowLayout.h"

namespace orvel::mainwindow::testing {
namespace {

TEST(WindowLayoutRules, MinimumTopSnapAndLetteringByState) {
    struct Case {
        std::int16_t state;
        TwipsGeometry asked;
        TwipsGeometry expected;
        double points;
    };
    const Case cases[] = {
        {kStateNormal, {100, 200, 8000, 4000}, {100, 200, 8000, 5700}, 13700 / 2.0 / 950},
        {kStateNormal, {0, -300, 9500, 9500}, {0, 0, 9500, 9500}, 10.0},
        {kStateMaximised, {-60, -60, 3000, 2000}, {-60, -60, 5700, 5700}, 6.0},
        {kStateMinimised, {0, -300, 9500, 9500}, {0, -300, 9500, 9500}, 10.0},
    };
    for (const auto& c : cases) {
        const auto outcome = ApplyResizeRules(c.state, c.asked);
        EXPECT_EQ(outcome.geometry, c.expected) << "state " << c.state;
        EXPECT_DOUBLE_EQ(outcome.letteringPoints, c.points) << "state " << c.state;
    }
    // A screen above the primary one starts at a negative top: a window on it
    // snaps to that screen's top, not to the primary's.
    EXPECT_EQ(ApplyResizeRules(kStateNormal, {0, -13500, 9500, 9500}, -16200).geometry.top, -13500);
    EXPECT_EQ(ApplyResizeRules(kStateNormal, {0, -17000, 9500, 9500}, -16200).geometry.top, -16200);
    EXPECT_EQ(ApplyResizeRules(kStateNormal, {0, 200, 9500, 9500}, 900).geometry.top, 900);
    EXPECT_EQ(ClampToAvailable(9500, 7650), 7650);
    EXPECT_EQ(ClampToAvailable(9500, 4000), kMinimumSizeTwips);
    EXPECT_EQ(ClampToAvailable(9500, 0), 9500) << "no screen known";
    EXPECT_EQ(TwipsToPixels(9500, 96), 633);
    EXPECT_EQ(PixelsToTwips(633, 96), 9495);
    EXPECT_EQ(TwipsToPixels(9500, 192), 1267);
}

TEST(WindowLayoutRules, LargeScreensStayWithinTheSettingsRange) {
    settings::ConsoleSettings settings;
    // A maximised window on a 7680-pixel wide screen at 96 dpi: 115200 twips.
    RecordWindowPlacement(settings, kStateMaximised, {-40000, 40000, 115200, 64800});
    EXPECT_EQ(settings.WindowState, 2);
    EXPECT_EQ(settings.WindowFormWidth, 32767);
    EXPECT_EQ(settings.WindowFormHeight, 32767);
    EXPECT_EQ(settings.WindowFormTop, 32767);
    EXPECT_EQ(settings.WindowFormLeft, -32768);
}

TEST_F(MainWindowTest, ResizeKeepsTheMinimumAndScalesTheLettering) {
    auto& w = Loaded();
    const double dpiX = w.logicalDpiX();
    const double dpiY = w.logicalDpiY();
    const int onePixel = PixelsToTwips(1, dpiX);
    EXPECT_NEAR(w.LetteringPoints(), 10.0, 0.02);
    EXPECT_NEAR(settings.WindowFormWidth, 9500, onePixel);
    w.show();

    // Dragged to height 4000, width 8000 twips (outer size, frame included).
    const QSize frame = w.frameGeometry().size() - w.size();
    w.resize(TwipsToPixels(8000, dpiX) - frame.width(), TwipsToPixels(4000, dpiY) - frame.height());
    EXPECT_EQ(w.frameGeometry().height(), TwipsToPixels(5700, dpiY));
    EXPECT_NEAR(settings.WindowFormHeight, 5700, onePixel);
    EXPECT_NEAR(settings.WindowFormWidth, 8000, onePixel);
    EXPECT_NEAR(w.LetteringPoints(), 7.2, 0.02);
    for (const char* name :
         {"pnlServers_0", "cmdServers_19", "pnlApplication_0", "cmdApplication_0"}) {
        EXPECT_NEAR(Find<QWidget>(name)->font().pointSizeF(), 7.2, 0.02) << name;
    }

    w.setWindowState(Qt::WindowMaximized);
    EXPECT_EQ(settings.WindowState, 2);
    w.mnuFileRestoreSize_Click();
    EXPECT_EQ(settings.WindowState, 0);
    EXPECT_NEAR(settings.WindowFormWidth, 9500, onePixel);
    EXPECT_NEAR(settings.WindowFormHeight, 9500, onePixel);
    EXPECT_NEAR(Find<QWidget>("cmdServers_3")->font().pointSizeF(), 10.0, 0.02);
}

// The window's own screen, given as a fake: a 1920 x 1080 monitor above the
// primary one, with only 510 pixels of it available.
TEST_F(MainWindowTest, SnapAndRestoredSizeFollowTheWindowsOwnScreen) {
    const QRect above(0, -1080, 1920, 1080);
    context->screenOf = [&](const QWidget&) { return ScreenArea{above, {0, -1080, 1920, 510}}; };
    auto& w = Loaded();
    const double dpiY = w.logicalDpiY();
    EXPECT_EQ(w.frameGeometry().height(), 510) << "clamped to the available area";
    EXPECT_EQ(w.frameGeometry().width(), TwipsToPixels(9500, w.logicalDpiX()));
    w.show();
    w.move(40, -900);
    EXPECT_EQ(w.frameGeometry().top(), -900) << "no snap within its own screen";
    EXPECT_NEAR(settings.WindowFormTop, PixelsToTwips(-900, dpiY), 1);
    w.move(40, -1200);
    EXPECT_EQ(w.frameGeometry().top(), -1080) << "snapped to its screen's top";
    w.mnuFileRestoreSize_Click();
    EXPECT_EQ(w.frameGeometry().height(), 510);
}

// Load with autostart: the file server role connects at once, the two
// remote roles only register the log-on entry.
TEST_F(MainWindowTest, AutoStartConnectsAtLoadOnlyAsFileServer) {
    for (std::int16_t role : {0, 1, 2}) {
        SCOPED_TRACE(role);
        window.reset();
        factory.created.clear();
        std::vector<bool> toggles;
        context->autoStartChanged = [&](bool checked) {
            toggles.push_back(checked);
            settings.AutoStart = checked;
        };
        settings.AutoStart = true;
        settings.Current = role;
        settings.RemoteServerName = "studio-b";
        if (role == 0) ScriptServers();
        Loaded();
        EXPECT_EQ(toggles, std::vector<bool>{true});
        EXPECT_TRUE(Find<QAction>("mnuSetupAutoStartOrvelConsole")->isChecked());
        EXPECT_EQ(window->Connected(), role == 0);
        EXPECT_EQ(factory.created.size(), role == 0 ? 2u : 0u);
    }
    // Autostart off: the entry is written and removed again, nothing connects.
    window.reset();
    factory.created.clear();
    std::vector<bool> toggles;
    context->autoStartChanged = [&](bool checked) { toggles.push_back(checked); };
    settings.AutoStart = false;
    settings.Current = 0;
    Loaded();
    EXPECT_EQ(toggles, (std::vector<bool>{true, false}));
    EXPECT_FALSE(Find<QAction>("mnuSetupAutoStartOrvelConsole")->isChecked());
    EXPECT_TRUE(factory.created.empty());
}

}  // namespace
}  // namespace orvel::mainwindow::testing
