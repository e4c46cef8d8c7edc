#include <QTest>

#include "MainWindowFixture.h"

namespace orvel::mainwindow::testing {
namespace {

bool MenuEnabled(QMenu* menu) {
    return menu->menuAction()->isEnabled();
}

TEST_F(MainWindowTest, LocalConnectRegistersStartsAndPaints) {
    local->statuses[5] = 1;  // Matrix Status runs already; the rest are off line
    remote->names[3] = "Main Desk";
    auto& w = ConnectedLocal();
    EXPECT_EQ(factory.localCreations, 2);
    EXPECT_EQ(local->CountCalls("ConnectClient(ClientName)"), 1);
    EXPECT_EQ(remote->CountCalls("ConnectClient(ClientName)"), 1);
    EXPECT_EQ(w.LocalClientNumber(), 2);
    // Start mode 20: 5 and 8 through the local reference, 3, 7, 11, 15 through the remote one.
    EXPECT_EQ(local->CountCalls("StartComponent"), 2);
    EXPECT_EQ(local->CountCalls("StartComponent(8)"), 1);
    for (int slot : {3, 7, 11, 15}) {
        EXPECT_EQ(remote->CountCalls("StartComponent(" + std::to_string(slot) + ")"), 1) << slot;
    }
    EXPECT_EQ(Panel(3)->text(), "LOCAL");
    EXPECT_EQ(Panel(3)->toolTip(), "Click to Disconnect Main Desk Server");
    EXPECT_EQ(Back(Panel(3)), QColor(0, 255, 0));
    EXPECT_EQ(Panel(0)->text(), "Off Line");
    EXPECT_EQ(Text(Panel(0)), QColor(0, 255, 0));
    EXPECT_EQ(Find<QPushButton>("cmdServers_3")->text(), "Main Desk");
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Di&sconnect");
    EXPECT_FALSE(Button("cmdServerRemote")->isEnabled());
    EXPECT_FALSE(MenuEnabled(Menu("mnuConfigure")));
    EXPECT_FALSE(MenuEnabled(Menu("mnuTools")));
    EXPECT_EQ(Find<QLabel>("lblOrvelServerName")->text(), "FILESRV");
    EXPECT_EQ(Find<QLabel>("lblOrvelServerOS")->text(), "LINUX 6.1.0");
    EXPECT_EQ(Find<QLabel>("lblOrvelServerVersion")->text(), "Release 7.1.0");
    EXPECT_EQ(Find<QGroupBox>("fraOrvelServerOS")->title(), "Local Server");
    EXPECT_TRUE(Button("cmdServerConnect")->isEnabled());
    EXPECT_EQ(roles, (std::vector<std::int16_t>{0, 0}));  // load and connect
}

// The state codes' looks are the status rules' own; the window applies the
// row's visibility and enabled state and passes a failed call's error on.
TEST_F(MainWindowTest, RowsApplyTheLookOfTheirCodes) {
    local->statuses[0] = -1;
    local->statuses[6] = 99;
    local->failures["GetComponentStatus(9)"] = {70, "Permission denied"};
    ConnectedLocal();
    EXPECT_TRUE(Find<QWidget>("spltServers_0")->isHidden());
    EXPECT_FALSE(Find<QPushButton>("cmdServers_0")->isEnabled());
    EXPECT_EQ(Panel(6)->text(), "Invalid Status");
    EXPECT_FALSE(Panel(6)->isEnabled());
    EXPECT_EQ(Panel(9)->text(), "DCom Error");
    EXPECT_EQ(Panel(9)->toolTip(), "Component 9 Error: Permission denied (70:0x46)");

    // A row its server does not support stays hidden once the servers are gone.
    window->cmdServerOrvelHost_Click();
    EXPECT_FALSE(window->Connected());
    EXPECT_TRUE(Find<QWidget>("spltServers_0")->isHidden());
    EXPECT_FALSE(Find<QWidget>("spltServers_1")->isHidden());
}

TEST_F(MainWindowTest, FailedCreationShowsOneBoxAndAsksNothingMore) {
    factory.creationFailures = {platform::MakeError(429)};
    auto& w = Loaded();
    dialogs.ExpectBox("DCom Error: 429");
    w.cmdServerOrvelHost_Click();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].style, 16);
    const std::string& text = BoxText(0);
    EXPECT_EQ(text.rfind("'Cannot Start DCom'\r\rA possible reason is that the Orvel Control "
                         "Console on the\r      Orvel File Server is not running.",
                         0),
              0u);
    EXPECT_NE(text.find("NOTE: If the Orvel File Server is a WIN95/98 machine, you MUST \r"),
              std::string::npos);
    const std::string end = "Permissions.\r\r(ActiveX component can't create object)";
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
    EXPECT_FALSE(w.Connected());
    EXPECT_EQ(factory.localCreations, 1);
    EXPECT_TRUE(MenuEnabled(Menu("mnuTools")));
    EXPECT_EQ(Find<QLabel>("lblOrvelServerOS")->text(), "Not Connected");
}

TEST_F(MainWindowTest, FailedConnectClientLeavesTheConsoleDisconnected) {
    remote->failures["ConnectClient"] = platform::MakeError(70);
    auto& w = Loaded();
    ScriptServers();
    dialogs.ExpectBox("DCom Error: 70");
    w.cmdServerOrvelHost_Click();
    EXPECT_FALSE(w.Connected());
    EXPECT_TRUE(MenuEnabled(Menu("mnuTools")));
    EXPECT_TRUE(MenuEnabled(Menu("mnuConfigure")));
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Co&nnect");
}

TEST_F(MainWindowTest, NoActiveSetIsWarned) {
    remote->activeSet = "No Active Set";
    auto& w = Loaded();
    ScriptServers();
    dialogs.ExpectBox("No Active CORVANE Set Selected");
    w.cmdServerOrvelHost_Click();
    EXPECT_EQ(BoxText(0),
              "There currently is no Active Set on the Orvel File Server\r\rMany Orvel "
              "Applications will not run properly\rwithout an Active Set !\r\rRun the Corvane "
              "Compiler and/or\rControl Center to make your selection.");
    EXPECT_EQ(dialogs.boxes[0].style, 48);
    EXPECT_TRUE(w.Connected());
}

class RemoteModeTest : public MainWindowTest {
  protected:
    frmMain& LoadedRemote(std::int16_t role = 1) {
        settings.Current = role;
        settings.RemoteServerName = "SRV";
        return Loaded();
    }
};

// Records the order in which the registrations on two servers are withdrawn.
class WithdrawalJournal : public fakes::FakeSuiteServer {
  public:
    WithdrawalJournal(std::vector<std::string>& journal, std::string name)
        : journal_(journal), name_(std::move(name)) {}
    platform::Outcome<std::int16_t> DisconnectClient() override {
        journal_.push_back(name_);
        return FakeSuiteServer::DisconnectClient();
    }

  private:
    std::vector<std::string>& journal_;
    std::string name_;
};

TEST_F(RemoteModeTest, NoHostConsoleLeavesAsADisconnectionDoes) {
    std::vector<std::string> withdrawn;
    local = std::make_shared<WithdrawalJournal>(withdrawn, "local");
    remote = std::make_shared<WithdrawalJournal>(withdrawn, "remote");
    auto& w = LoadedRemote();
    remote->connectResult = 1;
    ScriptServers();
    dialogs.ExpectBox("");
    w.cmdServerOrvelHost_Click();
    EXPECT_EQ(factory.remoteNames, std::vector<std::string>{"SRV"});
    EXPECT_EQ(BoxText(0),
              "A Orvel Host application is NOT running on the server !\r\rYou CANNOT run a "
              "REMOTE session without a Orvel Host running on the server...");
    // The server without a host console is left first.
    EXPECT_EQ(withdrawn, (std::vector<std::string>{"remote", "local"}));
    EXPECT_FALSE(w.Connected());
    EXPECT_EQ(w.RemoteClientNumber(), 0);
    EXPECT_TRUE(MenuEnabled(Menu("mnuTools")));
    EXPECT_TRUE(MenuEnabled(Menu("mnuConfigure")));
}

TEST_F(RemoteModeTest, RemoteRowsAndPollTexts) {
    auto& w = LoadedRemote();
    remote->statuses[3] = 1;
    local->statuses[12] = 1;
    local->statuses[4] = 0;
    ScriptServers();
    w.cmdServerOrvelHost_Click();
    ASSERT_TRUE(w.Connected());
    EXPECT_FALSE(Button("cmdServerLocal")->isEnabled());
    EXPECT_EQ(Panel(3)->text(), "( SRV )");
    EXPECT_EQ(Panel(12)->text(), "LOCAL");
    EXPECT_EQ(Find<QGroupBox>("fraOrvelServerOS")->title(), "Remote Server");
    EXPECT_FALSE(Button("cmdServerDisconnect")->isEnabled());

    w.tmrTimer_Timer();
    EXPECT_EQ(Status("keyTimeSource")->text(), "SRV");
    EXPECT_EQ(Status("keyTime")->text(), "(14:03:22)");
    EXPECT_EQ(Status("keyTime")->toolTip(), "Time on SRV");
    EXPECT_EQ(Status("keyDate")->text(), "(12/04/2026)");
    EXPECT_EQ(Status("keyDate")->toolTip(), "Date on SRV");
    EXPECT_TRUE(Status("keyClients")->isHidden());
    EXPECT_EQ(remote->CountCalls("GetServerTime"), 2);

    // A remote console stops a local component but not one of the file server.
    dialogs.ExpectBox("Cannot Stop Server");
    w.cmdServers_Click(3);
    EXPECT_EQ(BoxText(0), "Cannot stop Orvel Servers from a Remote Client");
    EXPECT_EQ(remote->CountCalls("StopComponent"), 0);
    w.cmdServers_Click(12);
    EXPECT_EQ(local->CountCalls("StopComponent(12)"), 1);
    EXPECT_EQ(Panel(12)->text(), "Off Line");
}

TEST_F(RemoteModeTest, ExtendedRoleCaptions) {
    LoadedRemote(2);
    EXPECT_EQ(Button("cmdServerRemote")->text(), "Extended PC");
    EXPECT_TRUE(Button("cmdServerRemote")->isEnabled());
    EXPECT_FALSE(Button("cmdServerLocal")->isEnabled());
    EXPECT_EQ(Find<QGroupBox>("fraOrvelServerOS")->title(), "(SRV)");
}

TEST_F(MainWindowTest, ConnectWithoutANameAsksForOne) {
    settings.Current = 1;
    auto& w = Loaded();
    dialogs.ExpectBox("Select LOCAL or REMOTE Server");
    w.cmdServerOrvelHost_Click();
    EXPECT_EQ(BoxText(0), "You must select a LOCAL or REMOTE Server before connecting");
    EXPECT_EQ(factory.localCreations, 0);
}

TEST_F(MainWindowTest, DisconnectRulesAndTheFiveSecondHold) {
    auto& w = ConnectedLocal();
    // Two other clients: the question, and No keeps the connection.
    local->clientCount = 4;
    dialogs.ExpectBox("Disconnect Server", platform::vbNo);
    w.cmdServerOrvelHost_Click();
    EXPECT_EQ(BoxText(0),
              "This Server has 2 Client(s) connected, do you want to Disconnect?\r\rThe Remote "
              "Client(s) will NOT be disconnected from the Orvel_Server...");
    EXPECT_EQ(dialogs.boxes[0].style, 292);
    EXPECT_TRUE(w.Connected());

    // A tool running: never disconnects; Yes asks it to close.
    local->clientCount = 2;
    windows.closeRemovesWindow = false;  // the tool asks to save first
    windows.AddWindow("Card Health", 77);
    dialogs.ExpectBox("Cannot Disconnect Orvel Server", platform::vbYes);
    w.cmdServerOrvelHost_Click();
    EXPECT_EQ(BoxText(1),
              "Cannot Disconnect !\r\r'Card Health' is still Running\r\rDo you want to Close the "
              "Application?");
    EXPECT_EQ(windows.closed, std::vector<platform::HWND>{77});
    EXPECT_TRUE(w.Connected());
    dialogs.ExpectBox("Cannot Disconnect Orvel Server", platform::vbNo);
    w.cmdServerOrvelHost_Click();
    EXPECT_EQ(windows.shown,
              (std::vector<std::pair<platform::HWND, int>>{{77, platform::SW_SHOWNORMAL}}));
    EXPECT_EQ(windows.raised, std::vector<platform::HWND>{77});
    windows.RemoveWindow(77);

    w.cmdServerOrvelHost_Click();
    EXPECT_FALSE(w.Connected());
    EXPECT_EQ(local->CountCalls("DisconnectClient"), 1);
    EXPECT_EQ(remote->CountCalls("DisconnectClient"), 1);
    EXPECT_TRUE(MenuEnabled(Menu("mnuTools")));
    auto* host = Button("cmdServerOrvelHost");
    EXPECT_EQ(host->text(), "Co&nnect");
    EXPECT_FALSE(host->isEnabled());

    // Within the hold a click only disables the button.
    clock.Advance(std::chrono::seconds(4));
    host->setEnabled(true);
    w.cmdServerOrvelHost_Click();
    EXPECT_FALSE(host->isEnabled());
    EXPECT_EQ(factory.localCreations, 2);

    // The poll releases it on a phase 1, 2 or 4 tick once the hold is over.
    clock.Advance(std::chrono::milliseconds(1500));
    w.tmrTimer_Timer();  // phase 1
    EXPECT_TRUE(host->isEnabled());
}

TEST_F(MainWindowTest, RowClickRules) {
    auto& w = ConnectedLocal();
    local->statuses[4] = 0;
    w.cmdServers_Click(4);
    EXPECT_EQ(local->CountCalls("StartComponent(4)"), 1);
    EXPECT_TRUE(table[4].blnKeepRunning);
    EXPECT_EQ(Panel(4)->text(), "LOCAL");

    local->clientCount = 3;  // one other client
    dialogs.ExpectBox("Cannot Stop Server");
    w.cmdServers_Click(4);
    EXPECT_EQ(BoxText(0),
              "This Server has 1 Client(s) connected.\r\rYou cannot stop the servers !");
    EXPECT_EQ(local->CountCalls("StopComponent"), 0);

    local->clientCount = 2;
    windows.AddWindow("DeskMain", 5);
    dialogs.ExpectBox("Applications Are Running");
    w.cmdServers_Click(4);
    EXPECT_EQ(BoxText(1), "Cannot Stop Servers while Applications are running");
    windows.RemoveWindow(5);

    w.cmdServers_Click(4);
    EXPECT_EQ(local->CountCalls("StopComponent(4)"), 1);
    EXPECT_FALSE(table[4].blnKeepRunning);
    EXPECT_EQ(Panel(4)->text(), "Off Line");
}

TEST_F(MainWindowTest, ConnectAndDisconnectAll) {
    auto& w = ConnectedLocal();
    local->calls.clear();
    remote->calls.clear();
    w.cmdServerConnect_Click();
    EXPECT_EQ(remote->calls.at(0), "StartComponent(3)");
    EXPECT_EQ(remote->calls.at(1), "StartComponent(7)");
    EXPECT_EQ(remote->calls.at(2), "StartComponent(11)");
    EXPECT_EQ(local->CountCalls("StartComponent"), 12);
    EXPECT_TRUE(table[0].blnKeepRunning);
    EXPECT_EQ(dialogs.pointer, platform::vbDefault);

    windows.AddWindow("LinkCheck", 9);
    dialogs.ExpectBox("Applications Are Running");
    w.cmdServerDisconnect_Click();
    EXPECT_EQ(local->CountCalls("StopComponent"), 0);
    windows.RemoveWindow(9);
    w.cmdServerDisconnect_Click();
    EXPECT_EQ(local->CountCalls("StopComponent"), 12);
    EXPECT_FALSE(table[0].blnKeepRunning);
}

TEST_F(MainWindowTest, ChangeEventsRepaintOnlyTheirOwnRows) {
    auto& w = ConnectedLocal();
    local->calls.clear();
    remote->calls.clear();
    local->statuses[4] = 1;
    local->RaiseServerChange(4);
    EXPECT_EQ(Panel(4)->text(), "LOCAL");
    local->RaiseServerChange(3);  // slot 3 is reached through the other reference
    remote->RaiseServerChange(4);
    local->RaiseServerChange(20);  // outside the table
    local->RaiseServerChange(-1);
    EXPECT_EQ(local->CountCalls("GetComponentStatus"), 1);
    EXPECT_EQ(remote->CountCalls("GetComponentStatus"), 0);

    local->failures["GetComponentStatus"] = platform::MakeError(462);
    local->RaiseServerChange(4);
    EXPECT_EQ(Panel(4)->text(), "DCom Error");
    EXPECT_NE(Panel(4)->toolTip().toStdString().find("(462:0x1CE)"), std::string::npos);
    (void)w;
}

TEST_F(MainWindowTest, ServerMessagesUseTheWaitWindowUntilTheNextTick) {
    auto& w = ConnectedLocal();
    remote->RaiseMessage(0, -1, "first");
    local->RaiseMessage(0, -1, "<b>second</b>");
    ASSERT_NE(w.WaitWindow(), nullptr);
    EXPECT_EQ(w.WaitWindow()->windowTitle(), "Message from Orvel Server");
    auto* message = w.WaitWindow()->findChild<QLabel*>("lblMessage");
    EXPECT_EQ(message->text(), "<b>second</b>");
    EXPECT_EQ(message->textFormat(), Qt::PlainText);
    // A standing message is sent again between ticks: the same window stays.
    auto* shown = w.WaitWindow();
    for (int tick = 0; tick < 6; ++tick) {
        local->RaiseMessage(0, -1, "<b>second</b>");
        w.tmrTimer_Timer();
        ASSERT_EQ(w.WaitWindow(), shown) << "tick " << tick;
    }
    EXPECT_EQ(message->text(), "<b>second</b>");
    // Not sent again: the server no longer stands for it, it goes by itself.
    w.tmrTimer_Timer();
    w.tmrTimer_Timer();
    EXPECT_EQ(w.WaitWindow(), nullptr);
    local->RaiseMessage(0, -1, "");
    EXPECT_NE(w.WaitWindow(), nullptr);
    local->RaiseMessage(1, -1, "gone");
    EXPECT_EQ(w.WaitWindow(), nullptr);
}

TEST_F(MainWindowTest, ConfigureMenuRefusedWhileConnected) {
    auto& w = ConnectedLocal();
    dialogs.ExpectBox("Configuration NOT allowed at this time");
    w.mnuConfigureIndex_Click(2);
    EXPECT_EQ(BoxText(0), "Cannot Reconfigure this Computer while Connected to Servers");
    EXPECT_EQ(settings.Current, 0);
    EXPECT_TRUE(Find<QAction>("mnuConfigureIndex_0")->isChecked());
    EXPECT_FALSE(Find<QAction>("mnuConfigureIndex_2")->isChecked());
    EXPECT_EQ(roles.size(), 2u);
}

TEST_F(MainWindowTest, ConfigureMenuChangesTheRole) {
    auto& w = Loaded();
    dialogs.ExpectInput("srv");
    w.mnuConfigureIndex_Click(2);
    EXPECT_EQ(settings.Current, 2);
    EXPECT_EQ(roles.back(), 2);
    EXPECT_EQ(table[0].intHostKind, 2);
    EXPECT_EQ(Button("cmdServerRemote")->text(), "Extended PC");
    EXPECT_EQ(Find<QGroupBox>("fraOrvelServerOS")->title(), "(SRV)");
    w.mnuConfigureIndex_Click(0);
    EXPECT_TRUE(settings.LocalServerSelected);
    EXPECT_EQ(table[0].intHostKind, 1);
}

// A remote role needs a name: Cancel or a refused name leaves the role, its
// check mark and the registrations as they were.
TEST_F(MainWindowTest, ConfigureRemoteWithoutAValidNameChangesNothing) {
    settings.RemoteServerName = "OLD";
    Loaded();
    auto* fileServer = Find<QAction>("mnuConfigureIndex_0");
    auto* remotePc = Find<QAction>("mnuConfigureIndex_1");
    dialogs.ExpectInput("");
    remotePc->trigger();  // as the menu does: the entry toggles, then acts
    dialogs.ExpectInput("two words").ExpectBox("Remote Server Name");
    remotePc->trigger();
    EXPECT_EQ(settings.Current, 0);
    EXPECT_EQ(roles, std::vector<std::int16_t>{0});  // the load's only
    EXPECT_TRUE(fileServer->isChecked());
    EXPECT_FALSE(remotePc->isChecked());
    EXPECT_TRUE(settings.LocalServerSelected);
    EXPECT_EQ(settings.RemoteServerName, "OLD");
    EXPECT_TRUE(Button("cmdServerLocal")->isEnabled());

    dialogs.ExpectInput("srv2");
    remotePc->trigger();
    EXPECT_EQ(settings.Current, 1);
    EXPECT_EQ(settings.RemoteServerName, "SRV2");
    EXPECT_TRUE(remotePc->isChecked());
    EXPECT_FALSE(fileServer->isChecked());
}

// Every refresh routine of the identity panel also runs on a click of the
// control it paints; a name the server cannot give leaves the label alone.
TEST_F(MainWindowTest, IdentityPanelControlsRefreshOnAClick) {
    auto& w = ConnectedLocal();
    auto* name = Find<QLabel>("lblOrvelServerName");
    auto* os = Find<QLabel>("lblOrvelServerOS");
    auto* version = Find<QLabel>("lblOrvelServerVersion");
    remote->serverName = "FILESRV2";
    remote->osMajor = 7;
    remote->serverVersion = "Quarlen_Release_Version: Release 7.2.0";
    QTest::mouseClick(name, Qt::LeftButton);
    EXPECT_EQ(name->text(), "FILESRV2");
    EXPECT_EQ(os->text(), "LINUX 6.1.0") << "only the clicked label repaints";
    QTest::mouseClick(os, Qt::LeftButton);
    EXPECT_EQ(os->text(), "LINUX 7.1.0");
    QTest::mouseClick(version, Qt::LeftButton);
    EXPECT_EQ(version->text(), "Release 7.2.0");

    remote->serverName = "FILESRV3";
    QTest::mouseClick(Find<QGroupBox>("fraOrvelServerOS"), Qt::LeftButton);
    EXPECT_EQ(name->text(), "FILESRV3");
    auto* frame = Find<QGroupBox>("fraOrvelServer");
    Paint(frame, status::kRed, status::kWhite);
    QTest::mouseClick(frame, Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_EQ(Back(frame), QColor(192, 192, 255));  // theme colour 1 again

    remote->failures["GetServerName"] = {462, "The remote server machine does not exist"};
    Paint(name, status::kRed, status::kWhite);
    QTest::mouseClick(name, Qt::LeftButton);
    EXPECT_EQ(name->text(), "FILESRV3");
    EXPECT_EQ(Back(name), QColor(255, 0, 0)) << "no recolouring without a name";
    (void)w;
}

}  // namespace
}  // namespace orvel::mainwindow::testing
