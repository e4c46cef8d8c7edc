// What the window shows of the connection manager's work; the manager's own
// rules (registrations, starts, boxes, losses) are test_server_connection's.

#include <QTest>

#include "MainWindowFixture.h"

namespace orvel::mainwindow::testing {
namespace {

// The state codes' looks are the status rules' own; the window applies the
// row's visibility and enabled state and passes a failed call's error on.
TEST_F(MainWindowTest, LocalConnectPaintsTheWindow) {
    local->statuses[5] = 1;  // Matrix Status runs already; the rest are off line
    local->statuses[0] = -1;
    local->statuses[6] = 99;
    local->failures["GetComponentStatus(9)"] = {70, "Permission denied"};
    remote->names[3] = "Main Desk";
    auto& w = ConnectedLocal();
    EXPECT_EQ(Panel(3)->text(), "LOCAL");
    EXPECT_EQ(Panel(3)->toolTip(), "Click to Disconnect Main Desk Server");
    EXPECT_EQ(Find<QPushButton>("cmdServers_3")->text(), "Main Desk");
    EXPECT_TRUE(Find<QWidget>("spltServers_0")->isHidden());
    EXPECT_FALSE(Find<QPushButton>("cmdServers_0")->isEnabled());
    EXPECT_EQ(Panel(6)->text(), "Invalid Status");
    EXPECT_FALSE(Panel(6)->isEnabled());
    EXPECT_EQ(Panel(9)->text(), "DCom Error");
    EXPECT_EQ(Panel(9)->toolTip(), "Component 9 Error: Permission denied (70:0x46)");

    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Di&sconnect");
    EXPECT_FALSE(Button("cmdServerRemote")->isEnabled());
    EXPECT_TRUE(Button("cmdServerConnect")->isEnabled());
    EXPECT_EQ(Find<QLabel>("lblOrvelServerName")->text(), "FILESRV");
    EXPECT_EQ(roles, (std::vector<std::int16_t>{0, 0}));  // load and connect

    // Connected, the role stays as it is.
    EXPECT_FALSE(MenuEnabled("mnuConfigure"));
    dialogs.ExpectBox("Configuration NOT allowed at this time");
    w.mnuConfigureIndex_Click(2);
    EXPECT_EQ(BoxText(0), "Cannot Reconfigure this Computer while Connected to Servers");
    EXPECT_TRUE(Find<QAction>("mnuConfigureIndex_0")->isChecked());
    EXPECT_FALSE(Find<QAction>("mnuConfigureIndex_2")->isChecked());
    EXPECT_EQ(roles.size(), 2u);

    // A row its server does not support stays hidden once the servers are gone.
    w.cmdServerOrvelHost_Click();
    EXPECT_TRUE(Find<QWidget>("spltServers_0")->isHidden());
    EXPECT_FALSE(Find<QWidget>("spltServers_1")->isHidden());
}

TEST_F(MainWindowTest, RemoteRowsPollTextsAndStops) {
    settings.Current = 1;
    settings.RemoteServerName = "SRV";
    auto& w = Loaded();
    remote->statuses[3] = 1;
    local->statuses[12] = 1;
    ScriptServers();
    w.cmdServerOrvelHost_Click();
    ASSERT_TRUE(w.Connected());
    EXPECT_FALSE(Button("cmdServerLocal")->isEnabled());
    EXPECT_EQ(Panel(3)->text(), "( SRV )");
    EXPECT_EQ(Panel(12)->text(), "LOCAL");
    EXPECT_FALSE(Button("cmdServerDisconnect")->isEnabled());

    w.tmrTimer_Timer();
    EXPECT_EQ(Status("keyTimeSource")->text(), "SRV");
    EXPECT_EQ(Status("keyTime")->text(), "(14:03:22)");
    EXPECT_EQ(Status("keyTime")->toolTip(), "Time on SRV");

    // A remote console stops a local component but not one of the file server.
    dialogs.ExpectBox("Cannot Stop Server");
    w.cmdServers_Click(3);
    EXPECT_EQ(BoxText(0), "Cannot stop Orvel Servers from a Remote Client");
    EXPECT_EQ(remote->CountCalls("StopComponent"), 0);
    w.cmdServers_Click(12);
    EXPECT_EQ(local->CountCalls("StopComponent(12)"), 1);
    EXPECT_EQ(Panel(12)->text(), "Off Line");
}

TEST_F(MainWindowTest, RowClickRulesAndTheHoldAfterADisconnection) {
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

    // Held five seconds after a disconnection: a click within the hold changes
    // nothing; the poll frees it on a phase 1, 2 or 4 tick after.
    w.cmdServerOrvelHost_Click();
    EXPECT_FALSE(w.Connected());
    EXPECT_TRUE(MenuEnabled("mnuConfigure"));
    auto* host = Button("cmdServerOrvelHost");
    EXPECT_FALSE(host->isEnabled());
    clock.Advance(std::chrono::seconds(4));
    host->setEnabled(true);
    w.cmdServerOrvelHost_Click();
    EXPECT_FALSE(host->isEnabled());
    EXPECT_EQ(factory.localCreations, 2);
    clock.Advance(std::chrono::milliseconds(1500));
    w.tmrTimer_Timer();  // phase 1
    EXPECT_TRUE(host->isEnabled());
}

// A standing message shows the wait window until a tick finds it was not sent
// again; a change event repaints the row its own reference serves.
TEST_F(MainWindowTest, ConnectWithoutANameAsksForASideAndCreatesNothing) {
    settings.Current = 1;  // a remote role: the remote side, and no name yet
    auto& w = Loaded();
    dialogs.ExpectBox("Select LOCAL or REMOTE Server");
    w.cmdServerOrvelHost_Click();
    EXPECT_EQ(BoxText(0), "You must select a LOCAL or REMOTE Server before connecting");
    EXPECT_EQ(dialogs.boxes.at(0).style, 48);
    EXPECT_EQ(factory.localCreations, 0);
    EXPECT_TRUE(factory.remoteNames.empty());
    EXPECT_NE(Find<QLabel>("lblOrvelServerOS")->text(), "Connecting...");
}

// The box keeps its fixed text; the status bar names the reason after it.
TEST_F(MainWindowTest, ARefusalsReasonStaysInTheStatusBarAfterItsBox) {
    auto& w = Loaded();
    auto refused = platform::MakeError(429);
    refused.reason = "certificate revoked";
    factory.creationFailures = {refused};
    dialogs.ExpectBox("DCom Error: 429");
    w.cmdServerOrvelHost_Click();
    Ticks(2);
    EXPECT_EQ(Status("keyTimeSource")->text(), "Not connected: certificate revoked");
    EXPECT_TRUE(Status("keyTimeSource")->toolTip().contains("DCom Error 429: certificate revoked"));
    w.cmdServerLocal_Click();  // the operator's next choice: the reason is history
    w.tmrTimer_Timer();
    EXPECT_EQ(Status("keyTimeSource")->text(), "Disconnected");
}

// While the connect waits on its server the window runs on and says so,
// "Connecting..." yellow on black; the active set comes with the rows.
TEST_F(MainWindowTest, AConnectUnderWayShowsConnectingAndTheActiveSetComesWithTheRows) {
    context->dispatcher = &ui;
    factory.HoldCreations();
    auto& w = Loaded();
    ScriptServers();
    remote->activeSet = "Studio B";
    w.cmdServerOrvelHost_Click();
    auto* os = Find<QLabel>("lblOrvelServerOS");
    EXPECT_EQ(os->text(), "Connecting...");
    EXPECT_EQ(Back(os), QColor(255, 255, 0));
    EXPECT_EQ(Text(os), QColor(0, 0, 0));
    w.cmdServerOrvelHost_Click();  // under way: no second connect
    w.tmrTimer_Timer();
    factory.ReleaseCreations();
    ASSERT_TRUE(ui.RunUntil([&] { return w.Connected(); }, std::chrono::seconds(20)));
    EXPECT_EQ(factory.localCreations, 2);
    EXPECT_EQ(Status("keyActiveSet")->text(), "Studio B") << "before the poll's active-set phase";
    EXPECT_EQ(Status("keyActiveSet")->toolTip(), "Active Set on FILESRV");
    EXPECT_FALSE(Status("keyActiveSet")->isHidden());
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Di&sconnect");
}

TEST_F(MainWindowTest, ServerEventsRepaintRowsAndShowTheWaitWindow) {
    auto& w = ConnectedLocal();
    remote->RaiseMessage(0, -1, "first");
    local->RaiseMessage(0, -1, "<b>second</b>");
    ASSERT_NE(w.WaitWindow(), nullptr);
    EXPECT_EQ(w.WaitWindow()->windowTitle(), "Message from Orvel Server");
    EXPECT_EQ(w.WaitWindow()->findChild<QLabel*>("lblPleaseWait")->text(), "Please Wait ...");
    auto* message = w.WaitWindow()->findChild<QLabel*>("lblMessage");
    EXPECT_EQ(message->text(), "<b>second</b>");
    EXPECT_EQ(message->textFormat(), Qt::PlainText);
    auto* shown = w.WaitWindow();
    for (int tick = 0; tick < 3; ++tick) {
        local->RaiseMessage(0, -1, "<b>second</b>");
        w.tmrTimer_Timer();
        ASSERT_EQ(w.WaitWindow(), shown) << "tick " << tick;
    }
    Ticks(2);
    EXPECT_EQ(w.WaitWindow(), nullptr);
    local->RaiseMessage(0, -1, "");
    EXPECT_NE(w.WaitWindow(), nullptr);
    local->RaiseMessage(1, -1, "gone");
    EXPECT_EQ(w.WaitWindow(), nullptr);

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
}

// A remote role needs a name: Cancel (as a refused name, the connection
// manager's rule) leaves the role, its check mark and the registrations.
TEST_F(MainWindowTest, ConfigureMenuChangesTheRoleOnlyWithAName) {
    settings.RemoteServerName = "OLD";
    auto& w = Loaded();
    auto* fileServer = Find<QAction>("mnuConfigureIndex_0");
    auto* remotePc = Find<QAction>("mnuConfigureIndex_1");
    dialogs.ExpectInput("");
    remotePc->trigger();  // as the menu does: the entry toggles, then acts
    EXPECT_EQ(settings.Current, 0);
    EXPECT_EQ(roles, std::vector<std::int16_t>{0});  // the load's only
    EXPECT_TRUE(fileServer->isChecked());
    EXPECT_FALSE(remotePc->isChecked());
    EXPECT_TRUE(settings.LocalServerSelected);
    EXPECT_EQ(settings.RemoteServerName, "OLD");

    dialogs.ExpectInput("srv2");
    remotePc->trigger();
    EXPECT_EQ(settings.Current, 1);
    EXPECT_EQ(settings.RemoteServerName, "SRV2");
    EXPECT_TRUE(remotePc->isChecked());
    EXPECT_FALSE(fileServer->isChecked());

    dialogs.ExpectInput("srv");
    w.mnuConfigureIndex_Click(2);
    EXPECT_EQ(Button("cmdServerRemote")->text(), "Extended PC");
    EXPECT_TRUE(Button("cmdServerRemote")->isEnabled());
    EXPECT_FALSE(Button("cmdServerLocal")->isEnabled());
    EXPECT_EQ(Find<QGroupBox>("fraOrvelServerOS")->title(), "(SRV)");
    w.mnuConfigureIndex_Click(0);
    EXPECT_EQ(roles, (std::vector<std::int16_t>{0, 1, 2, 0}));
}

// Every refresh routine of the identity panel also runs on a click of the
// control it paints; a name the server cannot give leaves the label alone.
TEST_F(MainWindowTest, IdentityPanelControlsRefreshOnAClick) {
    ConnectedLocal();
    auto* name = Find<QLabel>("lblOrvelServerName");
    auto* os = Find<QLabel>("lblOrvelServerOS");
    remote->serverName = "FILESRV2";
    remote->osMajor = 7;
    remote->serverVersion = "Quarlen_Release_Version: Release 7.2.0";
    QTest::mouseClick(name, Qt::LeftButton);
    EXPECT_EQ(name->text(), "FILESRV2");
    EXPECT_EQ(os->text(), "LINUX 6.1.0") << "only the clicked label repaints";
    QTest::mouseClick(os, Qt::LeftButton);
    EXPECT_EQ(os->text(), "LINUX 7.1.0");
    QTest::mouseClick(Find<QLabel>("lblOrvelServerVersion"), Qt::LeftButton);
    EXPECT_EQ(Find<QLabel>("lblOrvelServerVersion")->text(), "Release 7.2.0");

    remote->serverName = "FILESRV3";
    QTest::mouseClick(Find<QGroupBox>("fraOrvelServerOS"), Qt::LeftButton);
    EXPECT_EQ(name->text(), "FILESRV3");

    remote->failures["GetServerName"] = {462, "The remote server machine does not exist"};
    Paint(name, status::kRed, status::kWhite);
    QTest::mouseClick(name, Qt::LeftButton);
    EXPECT_EQ(name->text(), "FILESRV3");
    EXPECT_EQ(Back(name), QColor(255, 0, 0)) << "no recolouring without a name";
}

}  // namespace
}  // namespace orvel::mainwindow::testing
