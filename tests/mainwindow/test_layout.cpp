#include "MainWindowFixture.h"

namespace orvel::mainwindow::testing {
namespace {

TEST_F(MainWindowTest, MenusAndPanelsCarryTheirNames) {
    Window();
    // Other parts and the tests reach the entries by their names.
    for (const char* name :
         {"mnuFileRestoreSize", "mnuFileExit", "mnuConfigureIndex_2", "mnuSetupColorsIndex_4",
          "mnuSetupFonts", "mnuSetupAutoStartOrvelConsole", "mnuToolsDComConfiguration",
          "mnuToolsDComProtocol", "mnuToolsCorvaneSettings", "mnuHelpAbout"}) {
        EXPECT_NE(Find<QAction>(name), nullptr) << name;
    }
    EXPECT_EQ(window->Timer()->interval(), 500);
    for (const char* key : {"keyTimeSource", "keyTime", "keyDate", "keyActiveSet", "keyClients"}) {
        EXPECT_NE(Status(key), nullptr) << key;
    }
    EXPECT_EQ(Status("keyTime")->toolTip(), "Curent Time");
    for (int i = 0; i < 20; ++i) EXPECT_NE(Panel(i), nullptr);
}

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

TEST_F(MainWindowTest, CaptionFollowsTheReleaseMarker) {
    Loaded();
    EXPECT_EQ(window->windowTitle(), "Orvel Control Console   Release 7.1.0");
    window.reset();
    version.releaseMarker = "Quarlen_Release_Version: Release x.x.x";
    Loaded();
    EXPECT_EQ(window->windowTitle(), "Orvel Control Console  6.0.0");
    window.reset();
    version.releaseMarker = "Release 8";
    Loaded();
    EXPECT_EQ(window->windowTitle(), "Orvel Control Console  Release 8")
        << "a marker without ':' is shown whole";
}

TEST_F(MainWindowTest, LoadCorrectsStoredValuesAndAppliesTheRole) {
    settings.WindowState = 7;
    settings.ColorTheme = 9;
    settings.Current = 1;
    settings.RemoteServerName = "BAD NAME;";
    Loaded();
    EXPECT_EQ(settings.WindowState, 0);
    EXPECT_EQ(settings.ColorTheme, 0);
    EXPECT_EQ(window->CurrentColours()[5], 0x800000u);
    EXPECT_EQ(settings.RemoteServerName, "");
    EXPECT_EQ(roles, std::vector<std::int16_t>{1});
    EXPECT_TRUE(Find<QAction>("mnuConfigureIndex_1")->isChecked());
    EXPECT_EQ(settings.LocalServerName, "Local Server");
    // Remote role without a name: the host button waits for one.
    EXPECT_FALSE(Button("cmdServerOrvelHost")->isEnabled());
    EXPECT_EQ(Button("cmdServerOrvelHost")->property("Tag").toString(), "False");
    EXPECT_EQ(Button("cmdServerRemote")->text(), "Remote PC");
    EXPECT_FALSE(Button("cmdServerLocal")->isEnabled());
}

TEST_F(MainWindowTest, DisconnectedIdentityPanel) {
    Loaded();
    EXPECT_TRUE(Find<QLabel>("lblOrvelServerName")->isHidden());
    EXPECT_TRUE(Find<QLabel>("lblOrvelServerVersion")->isHidden());
    auto* os = Find<QLabel>("lblOrvelServerOS");
    EXPECT_EQ(os->text(), "Not Connected");
    EXPECT_EQ(Back(os), QColor(255, 0, 0));
    EXPECT_EQ(Text(os), QColor(255, 255, 255));
    EXPECT_FALSE(Button("cmdServerConnect")->isEnabled());
    EXPECT_FALSE(Button("cmdServerDisconnect")->isEnabled());
    EXPECT_EQ(Find<QGroupBox>("fraOrvelServerOS")->title(), "(Local Server)");
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Co&nnect");
    EXPECT_TRUE(Button("cmdServerOrvelHost")->isEnabled());
    // Unused and unbound rows: empty disabled buttons on black panels.
    EXPECT_EQ(Find<QPushButton>("cmdServers_17")->text(), "");
    EXPECT_FALSE(Find<QPushButton>("cmdServers_17")->isEnabled());
    EXPECT_EQ(Back(Panel(17)), QColor(0, 0, 0));
    EXPECT_EQ(Text(Panel(17)), QColor(0, 255, 255));
}

TEST_F(MainWindowTest, BlueAndGrayThemesPaintTheirExactColours) {
    auto& w = Loaded();
    auto* client = Find<QWidget>("frmMainClient");
    auto* frame = Find<QGroupBox>("fraServers");
    auto* button = Find<QPushButton>("cmdServers_0");
    // Blue: background 0x800000 is blue 128, frame 0xC00000, buttons 0xFFC0C0.
    EXPECT_EQ(Back(client), QColor(0, 0, 128));
    EXPECT_EQ(Back(frame), QColor(0, 0, 192));
    EXPECT_EQ(Text(frame), QColor(192, 192, 0));  // 0xC00000 ^ 0xC0C0C0 = 0x00C0C0
    EXPECT_EQ(button->palette().color(QPalette::Button), QColor(192, 192, 255));
    EXPECT_EQ(button->palette().color(QPalette::Active, QPalette::ButtonText), QColor(15, 15, 48));
    // The row is disabled while disconnected: its lettering is greyed halfway
    // to the back colour.
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->palette().color(QPalette::ButtonText), QColor(103, 103, 151));
    EXPECT_EQ(button->palette().color(QPalette::Disabled, QPalette::ButtonText),
              QColor(103, 103, 151));
    EXPECT_EQ(button->palette().color(QPalette::Inactive, QPalette::ButtonText),
              QColor(15, 15, 48));
    EXPECT_TRUE(Find<QAction>("mnuSetupColorsIndex_0")->isChecked());

    w.mnuSetupColorsIndex_Click(4);
    EXPECT_EQ(settings.ColorTheme, 4);
    EXPECT_FALSE(Find<QAction>("mnuSetupColorsIndex_0")->isChecked());
    EXPECT_TRUE(Find<QAction>("mnuSetupColorsIndex_4")->isChecked());
    EXPECT_EQ(Back(client), QColor(0x40, 0x40, 0x40));
    EXPECT_EQ(Back(frame), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(button->palette().color(QPalette::Button), QColor(0xF0, 0xF0, 0xF0));
    EXPECT_EQ(button->palette().color(QPalette::Active, QPalette::ButtonText),
              QColor(0x3F, 0x3F, 0x3F));

    w.mnuSetupColorsIndex_Click(2);  // green element 2 is 0x80CC80
    EXPECT_EQ(w.CurrentColours()[2], 0x80CC80u);
    EXPECT_EQ(Back(client), QColor(0, 128, 0));
}

}  // namespace
}  // namespace orvel::mainwindow::testing
