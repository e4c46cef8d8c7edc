#include <QCoreApplication>
#include <csignal>

#include "platform/qt/CloseSignals.h"

#include "MainWindowFixture.h"

namespace orvel::mainwindow::testing {
namespace {

TEST_F(MainWindowTest, PollWhileDisconnected) {
    auto& w = Loaded();
    context->IsAdministrator = false;
    w.tmrTimer_Timer();
    EXPECT_EQ(Status("keyTimeSource")->text(), "Disconnected");
    EXPECT_EQ(Status("keyTimeSource")->toolTip(), "Server Disconnected");
    EXPECT_EQ(Status("keyTime")->text(), "15:07:09");
    EXPECT_EQ(Status("keyTime")->toolTip(), "Time on Local PC");
    EXPECT_EQ(Status("keyDate")->text(), "12/04/2026");
    EXPECT_EQ(Status("keyDate")->toolTip(), "Date on Local PC");
    EXPECT_EQ(Status("keyActiveSet")->text(), "- - -");
    EXPECT_EQ(Status("keyActiveSet")->toolTip(), "Active Set Not Available");
    EXPECT_TRUE(Status("keyActiveSet")->isHidden());
    EXPECT_TRUE(Status("keyClients")->isHidden());
    EXPECT_TRUE(Menu("mnuTools")->menuAction()->isEnabled());
    EXPECT_FALSE(Menu("mnuConfigure")->menuAction()->isEnabled());
}

// A whole start of an ordinary user with autostart, as file server: the
// load connects, ticks run, the window closes. Not one box on the way.
TEST_F(MainWindowTest, OrdinaryUserStartShowsNoBox) {
    context->IsAdministrator = false;
    settings.AutoStart = true;
    int verifications = 0;
    context->showProcessVerification = [&] { ++verifications; };
    ScriptServers();
    auto& w = Loaded();
    EXPECT_TRUE(w.Connected());
    for (int tick = 0; tick < 11; ++tick) w.tmrTimer_Timer();
    EXPECT_FALSE(Menu("mnuConfigure")->menuAction()->isEnabled());
    w.close();
    EXPECT_EQ(verifications, 1);
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().title;
    EXPECT_EQ(local->CountCalls("DisconnectClient"), 1);
}

TEST_F(MainWindowTest, PollPhasesWhileConnectedLocally) {
    auto& w = ConnectedLocal();
    for (auto& s : local->statuses) s = 1;
    for (auto& s : remote->statuses) s = 1;
    local->calls.clear();
    remote->calls.clear();

    w.tmrTimer_Timer();  // phase 1
    EXPECT_EQ(Status("keyTimeSource")->text(), "Local Server");
    EXPECT_EQ(Status("keyTime")->toolTip(), "Time on Local Server");
    EXPECT_EQ(Status("keyDate")->toolTip(), "Date on Local Server");
    EXPECT_TRUE(Status("keyClients")->isHidden());
    EXPECT_FALSE(Status("keyActiveSet")->isHidden());
    EXPECT_FALSE(Menu("mnuTools")->menuAction()->isEnabled());
    EXPECT_TRUE(Menu("mnuConfigure")->menuAction()->isEnabled());

    local->clientCount = 5;  // three other clients
    w.tmrTimer_Timer();      // phase 2
    EXPECT_FALSE(Status("keyClients")->isHidden());
    EXPECT_EQ(Status("keyClients")->text(), "3 Client(s)");
    EXPECT_EQ(Status("keyClients")->toolTip(), "Server Clients");

    w.tmrTimer_Timer();  // phase 3
    w.tmrTimer_Timer();  // phase 4
    // Phase 5 stops the unneeded local components (the rules are the
    // connection manager's) and repaints their rows.
    local->clientCount = 2;
    w.tmrTimer_Timer();
    EXPECT_EQ(local->CountCalls("StopComponent(0)"), 1);
    EXPECT_EQ(Panel(0)->text(), "Off Line");

    // Phases 7-9 show the active set of the server in use.
    remote->activeSet = "Studio <A>";
    remote->calls.clear();
    for (int tick = 0; tick < 11; ++tick) w.tmrTimer_Timer();
    EXPECT_EQ(remote->CountCalls("GetActiveSet"), 3);
    EXPECT_EQ(Status("keyActiveSet")->text(), "Studio <A>");
    EXPECT_EQ(Status("keyActiveSet")->textFormat(), Qt::PlainText);
}

TEST_F(MainWindowTest, DisconnectButtonRuleOfThePoll) {
    auto& w = ConnectedLocal();
    local->connectResult = 1;
    auto* button = Button("cmdServerDisconnect");
    // Ticks 1..10 reset; the 11th tick is phase 0.
    windows.AddWindow("Recorder", 4);
    for (int tick = 0; tick < 11; ++tick) w.tmrTimer_Timer();
    EXPECT_EQ(w.TickCounter(), 0);
    EXPECT_FALSE(button->isEnabled());
}

TEST_F(MainWindowTest, ExitRules) {
    auto& w = ConnectedLocal();
    local->clientCount = 3;
    dialogs.ExpectBox("Disconnect Server", platform::vbNo);
    w.mnuFileExit_Click();
    EXPECT_EQ(BoxText(0),
              "This Server has 1 Client(s) connected, do you want to close this "
              "application?\r\rThe Remote Client(s) will NOT be disconnected from the "
              "Orvel_Server...");
    EXPECT_TRUE(w.Connected());

    windows.AddWindow("Rewire Utility", 21);
    dialogs.ExpectBox("Disconnect Server", platform::vbYes)
        .ExpectBox("Cannot Exit Orvel Control Center");
    w.mnuFileExit_Click();
    EXPECT_EQ(BoxText(2),
              "Cannot Exit the Orvel Console\r\rThe 'Rewire' is still Running\r\rClose "
              "Application then Exit");
    EXPECT_EQ(windows.shown,
              (std::vector<std::pair<platform::HWND, int>>{{21, platform::SW_SHOWNORMAL}}));
    EXPECT_TRUE(w.Connected());

    // Closed by other means: warned, never refused; REVERO asked to close at the end.
    windows.AddWindow("REVERO", 99);
    dialogs.ExpectBox("Exiting Orvel Control Center...");
    w.close();
    EXPECT_EQ(BoxText(3), "FORCING Exit !\r\r'Rewire' is still Running\r\r");
    EXPECT_EQ(local->CountCalls("DisconnectClient"), 1);
    EXPECT_EQ(remote->CountCalls("DisconnectClient"), 1);
    EXPECT_EQ(configurationWrites, 1);
    window.reset();
    EXPECT_EQ(configurationWrites, 2);
    EXPECT_EQ(windows.closed, std::vector<platform::HWND>{99});
}

TEST_F(MainWindowTest, ExitWhileDisconnectedClosesAtOnce) {
    auto& w = Loaded();
    w.mnuFileExit_Click();
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_EQ(configurationWrites, 1);
    window.reset();
    EXPECT_TRUE(windows.closed.empty());
}

TEST_F(MainWindowTest, ALostServerIsSeenWithinATickToldOnceAndConnectedAgain) {
    auto& w = ConnectedLocal();
    local->calls.clear();
    remote->calls.clear();
    local->lost = true;
    remote->lost = true;
    w.RefreshServerList();
    // One call reaches the dead server; every later one fails at once.
    EXPECT_EQ(local->calls.size() + remote->calls.size(), 1u);
    EXPECT_EQ(Panel(0)->text(), "DCom Error");

    // The next tick ends the connection without a question, a box or a call.
    w.tmrTimer_Timer();
    EXPECT_FALSE(w.Connected());
    EXPECT_EQ(w.objOrvelServerLocal(), nullptr);
    EXPECT_EQ(local->calls.size() + remote->calls.size(), 3u);  // and two releases
    EXPECT_EQ(local->CountCalls("Abandon") + remote->CountCalls("Abandon"), 2);
    EXPECT_EQ(Status("keyTimeSource")->text(), "Connection to Local Server lost");
    EXPECT_EQ(Panel(0)->text(), "");
    EXPECT_FALSE(Find<QPushButton>("cmdServers_0")->isEnabled());
    EXPECT_TRUE(Menu("mnuTools")->menuAction()->isEnabled());
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Co&nnect");
    EXPECT_TRUE(dialogs.boxes.empty());

    // Quiet retries every five seconds: the server is still away.
    factory.creationFailures = {platform::MakeError(429)};
    const int firstCreations = factory.localCreations;
    for (int tick = 0; tick < 9; ++tick) w.tmrTimer_Timer();
    EXPECT_EQ(factory.localCreations, firstCreations);
    clock.Advance(std::chrono::seconds(5));
    w.tmrTimer_Timer();
    EXPECT_EQ(factory.localCreations, firstCreations + 1);
    EXPECT_FALSE(w.Connected());
    EXPECT_TRUE(dialogs.boxes.empty());

    // The server is back: connected without a click, the role not redone.
    auto fresh1 = std::make_shared<fakes::FakeSuiteServer>();
    auto fresh2 = std::make_shared<fakes::FakeSuiteServer>();
    factory.next = {fresh1, fresh2};
    const auto rolesBefore = roles.size();
    clock.Advance(std::chrono::seconds(5));
    w.tmrTimer_Timer();
    EXPECT_TRUE(w.Connected());
    EXPECT_EQ(fresh1->CountCalls("ConnectClient"), 1);
    EXPECT_EQ(roles.size(), rolesBefore);
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Di&sconnect");
    EXPECT_EQ(Status("keyTimeSource")->text(), "Local Server");
    EXPECT_TRUE(dialogs.boxes.empty());

    // A broken event stream is seen at once, without waiting for the tick.
    fresh1->lostHandler();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.Connected());
    EXPECT_EQ(fresh1->CountCalls("DisconnectClient") + fresh2->CountCalls("DisconnectClient"), 0);

    // The operator's change of side gives the connection up: no more retries.
    w.cmdServerLocal_Click();
    clock.Advance(std::chrono::seconds(30));
    const int creations = factory.localCreations;
    w.tmrTimer_Timer();
    EXPECT_EQ(factory.localCreations, creations);
    EXPECT_EQ(Status("keyTimeSource")->text(), "Disconnected");
}

TEST_F(MainWindowTest, RetriesShowTheNoActiveSetBoxOncePerLoss) {
    local->activeSet = remote->activeSet = "No Active Set";
    auto& w = Loaded();
    ScriptServers();
    dialogs.ExpectBox("No Active CORVANE Set Selected");
    w.cmdServerOrvelHost_Click();
    ASSERT_TRUE(w.Connected());
    for (int loss = 0; loss < 2; ++loss) {
        auto lost = std::dynamic_pointer_cast<fakes::FakeSuiteServer>(factory.created.back());
        lost->lost = true;
        lost->lostHandler();
        QCoreApplication::processEvents();
        ASSERT_FALSE(w.Connected());
        // A retry that fails shows nothing; the one that stands, one box.
        factory.creationFailures = {platform::MakeError(429)};
        clock.Advance(std::chrono::seconds(5));
        w.tmrTimer_Timer();
        ASSERT_FALSE(w.Connected());
        auto a = std::make_shared<fakes::FakeSuiteServer>();
        auto b = std::make_shared<fakes::FakeSuiteServer>();
        a->activeSet = b->activeSet = "No Active Set";
        factory.next = {a, b};
        dialogs.ExpectBox("No Active CORVANE Set Selected");
        clock.Advance(std::chrono::seconds(5));
        w.tmrTimer_Timer();
        ASSERT_TRUE(w.Connected());
        EXPECT_TRUE(dialogs.ScriptDone());
    }
}

// Shutdown and log-out: the orderly close runs from the event loop, with no
// question although other clients and a program would make the exit ask.
TEST_F(MainWindowTest, CloseSignalsRunTheOrderlyCloseWithoutABox) {
    for (int signal : {SIGTERM, SIGHUP}) {
        window.reset();
        configurationWrites = 0;
        windows.closed.clear();
        local = std::make_shared<fakes::FakeSuiteServer>();
        remote = std::make_shared<fakes::FakeSuiteServer>();
        local->clientCount = 4;
        auto& w = ConnectedLocal();
        windows.AddWindow(catalogue[1].WindowTitle, 40);
        windows.AddWindow("REVERO", 99);
        int received = 0;
        platform::CloseSignals closeSignals([&](int number) {
            received = number;
            w.CloseBySignal();
        });
        ASSERT_TRUE(closeSignals.Installed());
        ASSERT_EQ(std::raise(signal), 0);
        for (int i = 0; i < 100 && received == 0; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        EXPECT_EQ(received, signal);
        EXPECT_GE(configurationWrites, 1);
        EXPECT_EQ(local->CountCalls("DisconnectClient"), 1);
        EXPECT_EQ(remote->CountCalls("DisconnectClient"), 1);
        EXPECT_EQ(w.objOrvelServerLocal(), nullptr);
        EXPECT_NE(std::find(windows.closed.begin(), windows.closed.end(), 99),
                  windows.closed.end());
        EXPECT_TRUE(dialogs.boxes.empty());
    }
}

}  // namespace
}  // namespace orvel::mainwindow::testing
