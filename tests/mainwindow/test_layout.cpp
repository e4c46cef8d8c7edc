// The window's load, caption and colour themes, the resize rules and the
// autostart at load.

#include <QAccessible>
#include <QFont>

#include "MainWindowFixture.h"
#include "mainwindow/WindowLayout.h"

namespace orvel::mainwindow::testing {
namespace {

TEST_F(MainWindowTest, PreviousInstanceEndsTheLoad) {
    instanceLock.anotherInstance = true;
    dialogs.ExpectBox("Previous Instance Detected");
    EXPECT_FALSE(Window().Load());
    EXPECT_EQ(BoxText(0), "A previous instance of Orvel_Console is already running");
    EXPECT_EQ(dialogs.boxes[0].style, 16);
    EXPECT_TRUE(roles.empty());
    windows.AddWindow("REVERO", 3);
    window.reset();
    EXPECT_TRUE(windows.closed.empty());
    EXPECT_EQ(configurationWrites, 0);
}

TEST_F(MainWindowTest, LoadCorrectsStoredValuesAppliesTheRoleAndCaption) {
    settings.WindowState = 7;
    settings.ColorTheme = 9;
    settings.Current = 1;
    settings.RemoteServerName = "BAD NAME;";
    Loaded();
    EXPECT_EQ(settings.WindowState, 0);
    EXPECT_EQ(settings.ColorTheme, 0);
    EXPECT_EQ(settings.RemoteServerName, "");
    EXPECT_EQ(roles, std::vector<std::int16_t>{1});
    EXPECT_TRUE(Find<QAction>("mnuConfigureIndex_1")->isChecked());
    // Remote role without a name: the host button waits for one.
    EXPECT_FALSE(Button("cmdServerOrvelHost")->isEnabled());
    EXPECT_FALSE(Button("cmdServerLocal")->isEnabled());

    // The caption shows the release once a release stamped the marker (the
    // marker's text rule is the about box's).
    EXPECT_EQ(window->windowTitle(), "Orvel Control Console   Release 7.1.0");
    window.reset();
    version.releaseMarker = "Quarlen_Release_Version: Release x.x.x";
    Loaded();
    EXPECT_EQ(window->windowTitle(), "Orvel Control Console  6.0.0");
}

TEST_F(MainWindowTest, DisconnectedPanelAndTheThemesExactColours) {
    auto& w = Loaded();
    EXPECT_TRUE(Find<QLabel>("lblOrvelServerName")->isHidden());
    auto* os = Find<QLabel>("lblOrvelServerOS");
    EXPECT_EQ(os->text(), "Not Connected");
    EXPECT_EQ(Back(os), QColor(255, 0, 0));
    EXPECT_FALSE(Button("cmdServerConnect")->isEnabled());
    EXPECT_EQ(Find<QGroupBox>("fraOrvelServerOS")->title(), "(Local Server)");
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Co&nnect");
    EXPECT_TRUE(Button("cmdServerOrvelHost")->isEnabled());
    // Unused and unbound rows: empty disabled buttons on black panels.
    EXPECT_EQ(Find<QPushButton>("cmdServers_17")->text(), "");
    EXPECT_FALSE(Find<QPushButton>("cmdServers_17")->isEnabled());
    EXPECT_EQ(Back(Panel(17)), QColor(0, 0, 0));

    auto* client = Find<QWidget>("frmMainClient");
    auto* frame = Find<QGroupBox>("fraServers");
    auto* button = Find<QPushButton>("cmdServers_0");
    auto buttonText = [button](QPalette::ColorGroup group) {
        return button->palette().color(group, QPalette::ButtonText);
    };
    // Blue: background 0x800000 is blue 128, frame 0xC00000, buttons 0xFFC0C0.
    EXPECT_EQ(Back(client), QColor(0, 0, 128));
    EXPECT_EQ(Text(frame), QColor(192, 192, 0));  // 0xC00000 ^ 0xC0C0C0 = 0x00C0C0
    EXPECT_EQ(button->palette().color(QPalette::Button), QColor(192, 192, 255));
    EXPECT_EQ(buttonText(QPalette::Active), QColor(15, 15, 48));
    // Disabled while disconnected: lettered halfway to the back colour.
    EXPECT_EQ(buttonText(QPalette::Disabled), QColor(103, 103, 151));
    EXPECT_EQ(buttonText(QPalette::Inactive), QColor(15, 15, 48)) << "a window in the back";
    EXPECT_TRUE(Find<QAction>("mnuSetupColorsIndex_0")->isChecked());

    w.mnuSetupColorsIndex_Click(4);
    EXPECT_EQ(settings.ColorTheme, 4);
    EXPECT_FALSE(Find<QAction>("mnuSetupColorsIndex_0")->isChecked());
    EXPECT_TRUE(Find<QAction>("mnuSetupColorsIndex_4")->isChecked());
    EXPECT_EQ(Back(client), QColor(0x40, 0x40, 0x40));
    EXPECT_EQ(button->palette().color(QPalette::Button), QColor(0xF0, 0xF0, 0xF0));

    // Green's element 2 is 0x80CC80, not the pattern's 0x80FF80.
    w.mnuSetupColorsIndex_Click(kThemeGreen);
    EXPECT_EQ(w.CurrentColours()[2], 0x80CC80u);
    EXPECT_EQ(Back(client), QColor(0, 0x80, 0));
}

// The rules as arithmetic, where the window tests below do not reach: no
// snap but the minimum when maximised, nothing when minimised, the clamp of
// a size asked for, and the settings' 16-bit range on a large screen.
TEST(WindowLayoutRules, StatesClampAndTheSettingsRange) {
    auto maximised = ApplyResizeRules(kStateMaximised, {-60, -60, 3000, 2000});
    EXPECT_EQ(maximised.geometry, (TwipsGeometry{-60, -60, 5700, 5700}));
    EXPECT_DOUBLE_EQ(maximised.letteringPoints, 6.0);
    const TwipsGeometry above{0, -300, 9500, 9500};
    EXPECT_EQ(ApplyResizeRules(kStateMinimised, above).geometry, above);
    EXPECT_EQ(ClampToAvailable(9500, 4000), kMinimumSizeTwips);
    EXPECT_EQ(ClampToAvailable(9500, 0), 9500) << "no screen known";
    EXPECT_EQ(TwipsToPixels(9500, 192), 1267);

    settings::ConsoleSettings settings;
    RecordWindowPlacement(settings, kStateMaximised, {-40000, 40000, 115200, 64800});
    EXPECT_EQ(settings.WindowState, 2);
    EXPECT_EQ(settings.WindowFormWidth, 32767);
    EXPECT_EQ(settings.WindowFormLeft, -32768);
}

TEST_F(MainWindowTest, ResizeKeepsTheMinimumAndScalesTheLettering) {
    auto& w = Loaded();
    const double dpiX = w.logicalDpiX();
    const double dpiY = w.logicalDpiY();
    const int onePixel = PixelsToTwips(1, dpiX);
    w.show();

    // Dragged to height 4000, width 8000 twips (outer size, frame included):
    // the height is raised to the minimum, and the smaller side, the
    // height, gives the lettering.
    const QSize frame = w.frameGeometry().size() - w.size();
    auto dragTo = [&](int width, int height) {
        w.resize(TwipsToPixels(width, dpiX) - frame.width(),
                 TwipsToPixels(height, dpiY) - frame.height());
    };
    dragTo(8000, 4000);
    EXPECT_EQ(w.frameGeometry().height(), TwipsToPixels(5700, dpiY));
    EXPECT_NEAR(settings.WindowFormHeight, 5700, onePixel);
    EXPECT_NEAR(settings.WindowFormWidth, 8000, onePixel);
    EXPECT_NEAR(w.LetteringPoints(), 6.0, 0.02);
    // Narrow and tall: the width decides.
    dragTo(7600, 12000);
    EXPECT_NEAR(w.LetteringPoints(), 8.0, 0.02);
    for (const char* name : {"cmdServers_19", "pnlApplication_0", "cmdServerConnect"}) {
        EXPECT_NEAR(Find<QWidget>(name)->font().pointSizeF(), 8.0, 0.02) << name;
    }

    w.setWindowState(Qt::WindowMaximized);
    EXPECT_EQ(settings.WindowState, 2);
    w.mnuFileRestoreSize_Click();
    EXPECT_EQ(settings.WindowState, 0);
    EXPECT_NEAR(settings.WindowFormWidth, 9500, onePixel);
    EXPECT_NEAR(settings.WindowFormHeight, 9500, onePixel);
    EXPECT_NEAR(Find<QWidget>("cmdServers_3")->font().pointSizeF(), 10.0, 0.02);
}

// A row too narrow for its panel's caption (a long remote name) shortens it
// in the middle; the caption itself, which the window compares and a screen
// reader reads, stays whole, and it shows whole again once there is room.
TEST_F(MainWindowTest, StatePanelShortensOnlyWhatDoesNotFit) {
    Loaded();
    auto* panel = Find<StatePanel>("pnlServers_0");
    const QString caption = "( a-remote-server-with-a-long-name.studio.example )";
    panel->setText(caption);
    panel->resize(panel->fontMetrics().horizontalAdvance(caption) / 2, 20);
    EXPECT_TRUE(panel->ShownText().contains(QChar(0x2026))) << panel->ShownText().toStdString();
    EXPECT_LT(panel->fontMetrics().horizontalAdvance(panel->ShownText()),
              panel->contentsRect().width() + 1);
    EXPECT_EQ(panel->text(), caption);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(panel)->text(QAccessible::Value), caption);
    EXPECT_LT(panel->minimumSizeHint().width(), panel->sizeHint().width());
    panel->resize(panel->sizeHint());
    EXPECT_EQ(panel->ShownText(), caption);
}

// A screen reader hears each row's state panel as a button named after its
// row, with the state as value and description, which it can press like a
// click; the identity labels are named after what they show.
TEST_F(MainWindowTest, RowsAndIdentityReadAsNamedValues) {
    local->statuses[4] = 0;
    local->statuses[5] = 1;
    ConnectedLocal();
    auto accessible = [this](const char* name) {
        return QAccessible::queryAccessibleInterface(Find<QWidget>(name));
    };
    QAccessibleInterface* running = accessible("pnlServers_5");
    EXPECT_EQ(running->role(), QAccessible::Button);
    EXPECT_EQ(running->text(QAccessible::Name), Find<QPushButton>("cmdServers_5")->text());
    EXPECT_FALSE(running->text(QAccessible::Name).isEmpty());
    EXPECT_EQ(running->text(QAccessible::Value), "LOCAL");
    EXPECT_EQ(running->text(QAccessible::Description), "LOCAL");

    QAccessibleInterface* offLine = accessible("pnlServers_4");
    EXPECT_EQ(offLine->text(QAccessible::Value), "Off Line");
    ASSERT_NE(offLine->actionInterface(), nullptr);
    local->calls.clear();
    offLine->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(local->CountCalls("StartComponent"), 1);
    EXPECT_EQ(offLine->text(QAccessible::Value), "LOCAL");

    const std::pair<const char*, const char*> identity[] = {
        {"lblOrvelServerName", "Server Name"},
        {"lblOrvelServerOS", "Server Operating System"},
        {"lblOrvelServerVersion", "Server Version"}};
    for (const auto& [label, name] : identity) {
        EXPECT_EQ(accessible(label)->text(QAccessible::Name), name);
        EXPECT_EQ(accessible(label)->text(QAccessible::Description), Find<QLabel>(label)->text());
    }
    EXPECT_EQ(accessible("lblOrvelServerName")->text(QAccessible::Description), "FILESRV");
}

// The server's message in the wait window: a carriage return breaks the line,
// alone or before a line feed; below "Please Wait ...".
TEST_F(MainWindowTest, ServerMessageKeepsItsLineBreaks) {
    auto& w = ConnectedLocal();
    local->RaiseMessage(0, -1, "Backup running\rPlease wait\r\nabout 5 minutes");
    ASSERT_NE(w.WaitWindow(), nullptr);
    EXPECT_EQ(w.WaitWindow()->lblPleaseWait->text(), "Please Wait ...");
    EXPECT_EQ(w.WaitWindow()->lblMessage->text(), "Backup running\nPlease wait\nabout 5 minutes");
}

// A remote console shows the remote server's date in brackets, says whose
// date it is, and has no clients panel even when the server counts others
// (their count is the file server console's concern); a local console shows
// them.
TEST_F(MainWindowTest, StatusBarOfARemoteConsoleShowsTheServersDateAndNoClients) {
    settings.Current = 1;
    settings.RemoteServerName = "SRV";
    auto& w = Loaded();
    remote->serverTime = {2027, 3, 9, 8, 7, 6};
    local->clientCount = 4;
    ScriptServers();
    w.cmdServerOrvelHost_Click();
    ASSERT_TRUE(w.Connected());
    w.tmrTimer_Timer();
    EXPECT_EQ(Status("keyDate")->text(), "(03/09/2027)");
    EXPECT_EQ(Status("keyDate")->toolTip(), "Date on SRV");
    EXPECT_TRUE(Status("keyClients")->isHidden());
    window.reset();

    settings.Current = 0;
    ConnectedLocal();
    local->clientCount = 4;
    window->tmrTimer_Timer();
    EXPECT_FALSE(Status("keyClients")->isHidden());
    EXPECT_EQ(Status("keyClients")->text(), "2 Client(s)");
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

// An ordinary user's start, without one box: with autostart the file server
// role connects, the remote roles only write the log-on entry; autostart off
// writes and removes it again, so that a stale one goes.
TEST_F(MainWindowTest, AutoStartConnectsAtLoadOnlyAsFileServer) {
    const struct {
        bool autoStart;
        std::int16_t role;
        std::vector<bool> toggles;
    } cases[] = {
        {true, 0, {true}}, {true, 1, {true}}, {true, 2, {true}}, {false, 0, {true, false}}};
    context->IsAdministrator = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.autoStart << " role " << c.role);
        factory.created.clear();
        auto& toggles = actions.autoStartToggles;
        toggles.clear();
        settings.AutoStart = c.autoStart;
        settings.Current = c.role;
        const bool connects = c.autoStart && c.role == 0;
        if (connects) ScriptServers();
        auto& w = Loaded();
        EXPECT_EQ(toggles, c.toggles);
        EXPECT_EQ(Find<QAction>("mnuSetupAutoStartOrvelConsole")->isChecked(), c.autoStart);
        EXPECT_EQ(w.Connected(), connects);
        EXPECT_EQ(factory.created.size(), connects ? 2u : 0u);
        Ticks(11);
        EXPECT_FALSE(MenuEnabled("mnuConfigure"));
        window.reset();
    }
    EXPECT_EQ(actions.verifications, 4);
    EXPECT_EQ(local->CountCalls("DisconnectClient"), 1);
}

}  // namespace
}  // namespace orvel::mainwindow::testing
