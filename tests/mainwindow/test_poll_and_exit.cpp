#include <QCoreApplication>
#include <csignal>
#include <filesystem>
#include <iterator>

#include "platform/qt/CloseSignals.h"

#include "MainWindowFixture.h"

namespace orvel::mainwindow::testing {
namespace {

TEST_F(MainWindowTest, PollAndExitWhileDisconnected) {
    auto& w = Loaded();
    context->IsAdministrator = false;
    w.tmrTimer_Timer();
    EXPECT_EQ(Status("keyTimeSource")->text(), "Disconnected");
    EXPECT_EQ(Status("keyTime")->text(), "15:07:09");
    EXPECT_EQ(Status("keyTime")->toolTip(), "Time on Local PC");
    EXPECT_EQ(Status("keyDate")->text(), "12/04/2026");
    EXPECT_EQ(Status("keyActiveSet")->text(), "- - -");
    EXPECT_TRUE(Status("keyActiveSet")->isHidden());
    EXPECT_TRUE(Status("keyClients")->isHidden());
    EXPECT_TRUE(MenuEnabled("mnuTools"));
    EXPECT_FALSE(MenuEnabled("mnuConfigure"));

    // Exit closes at once, without a box; no REVERO window, nothing posted.
    w.mnuFileExit_Click();
    EXPECT_EQ(configurationWrites, 1);
    window.reset();
    EXPECT_TRUE(windows.closed.empty());
}

TEST_F(MainWindowTest, PollPhasesWhileConnectedLocally) {
    local->connectResult = 1;  // the first console on this server
    auto& w = ConnectedLocal();
    AllRunning();
    w.tmrTimer_Timer();  // phase 1
    EXPECT_EQ(Status("keyTime")->toolTip(), "Time on Local Server");
    EXPECT_TRUE(Status("keyClients")->isHidden());
    EXPECT_FALSE(Status("keyActiveSet")->isHidden());
    EXPECT_FALSE(MenuEnabled("mnuTools"));
    EXPECT_TRUE(MenuEnabled("mnuConfigure"));

    local->clientCount = 5;  // three other clients
    w.tmrTimer_Timer();      // phase 2
    EXPECT_FALSE(Status("keyClients")->isHidden());
    EXPECT_EQ(Status("keyClients")->text(), "3 Client(s)");

    // Phase 5 stops the unneeded local components and repaints their rows.
    Ticks(2);
    local->clientCount = 2;
    w.tmrTimer_Timer();
    EXPECT_EQ(local->CountCalls("StopComponent(0)"), 1);
    EXPECT_EQ(Panel(0)->text(), "Off Line");

    // Phases 7-9 show the active set of the server in use.
    remote->activeSet = "Studio <A>";
    remote->calls.clear();
    Ticks(11);
    EXPECT_EQ(remote->CountCalls("GetActiveSet"), 3);
    EXPECT_EQ(Status("keyActiveSet")->text(), "Studio <A>");
    EXPECT_EQ(Status("keyActiveSet")->textFormat(), Qt::PlainText);

    // Phases 0, 3, 6: disconnect-all for the first console alone, no tool running.
    EXPECT_TRUE(Button("cmdServerDisconnect")->isEnabled());
    windows.AddWindow("Recorder", 4);
    Ticks(11);
    EXPECT_FALSE(Button("cmdServerDisconnect")->isEnabled());
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

// The loss rules are the connection manager's; the window sees the loss
// within a tick, shows it, retries on its ticks and connects again alone.
TEST_F(MainWindowTest, ALostServerIsSeenWithinATickAndConnectedAgain) {
    auto& w = ConnectedLocal();
    local->calls.clear();
    remote->calls.clear();
    local->lost = true;
    remote->lost = true;
    w.RefreshServerList();
    // One call reaches the dead server; every later one fails at once.
    EXPECT_EQ(local->calls.size() + remote->calls.size(), 1u);
    EXPECT_EQ(Panel(0)->text(), "DCom Error");

    // The next tick ends it without a question, a box or a call: only abandoned.
    w.tmrTimer_Timer();
    EXPECT_FALSE(w.Connected());
    EXPECT_EQ(local->calls.size() + remote->calls.size(), 3u);
    EXPECT_EQ(local->CountCalls("Abandon") + remote->CountCalls("Abandon"), 2);
    EXPECT_EQ(Status("keyTimeSource")->text(), "Connection to Local Server lost");
    EXPECT_EQ(Panel(0)->text(), "");
    EXPECT_FALSE(Find<QPushButton>("cmdServers_0")->isEnabled());
    EXPECT_TRUE(MenuEnabled("mnuTools"));
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Co&nnect");
    EXPECT_TRUE(Button("cmdServerOrvelHost")->isEnabled()) << "a loss holds no button";

    // Tried again quietly after five seconds, the role not redone.
    const int creations = factory.localCreations;
    Ticks(9);
    EXPECT_EQ(factory.localCreations, creations);
    clock.Advance(std::chrono::seconds(5));
    w.tmrTimer_Timer();
    EXPECT_TRUE(w.Connected());
    EXPECT_EQ(roles.size(), 2u);
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Di&sconnect");
    EXPECT_EQ(Status("keyTimeSource")->text(), "Local Server");

    // A broken event stream is seen at once, without waiting for the tick.
    factory.created.back()->lostHandler();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.Connected());
    for (const auto& server : factory.created) EXPECT_EQ(server->CountCalls("DisconnectClient"), 0);

    // The operator's change of side gives the connection up: no more retries.
    w.cmdServerLocal_Click();
    clock.Advance(std::chrono::seconds(30));
    w.tmrTimer_Timer();
    EXPECT_EQ(factory.localCreations, creations + 2);
    EXPECT_EQ(Status("keyTimeSource")->text(), "Disconnected");
}

// Shutdown and log-out: the orderly close runs from the event loop without the
// exit's questions over clients and programs; a second signal finds it done.
TEST_F(MainWindowTest, CloseSignalsRunTheOrderlyCloseWithoutABox) {
    local->clientCount = 4;
    auto& w = ConnectedLocal();
    windows.AddWindow(catalogue[1].WindowTitle, 40);
    windows.AddWindow("REVERO", 99);
    std::vector<int> received;
    platform::CloseSignals closeSignals([&](int number) {
        received.push_back(number);
        w.CloseBySignal();
    });
    ASSERT_TRUE(closeSignals.Installed());
    for (int signal : {SIGTERM, SIGHUP}) {
        const auto before = received.size();
        ASSERT_EQ(std::raise(signal), 0);
        for (int i = 0; i < 100 && received.size() == before; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
    }
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGHUP}));
    EXPECT_GE(configurationWrites, 1);
    EXPECT_EQ(local->CountCalls("DisconnectClient"), 1);
    EXPECT_EQ(remote->CountCalls("DisconnectClient"), 1);
    EXPECT_EQ(windows.closed, std::vector<platform::HWND>{99});
}

std::size_t OpenDescriptors() {
    std::error_code error;
    auto range = std::filesystem::directory_iterator("/proc/self/fd", error);
    return error ? 0 : static_cast<std::size_t>(std::distance(begin(range), end(range)));
}

// One at a time (the handler reaches one pipe): a second while one stands is
// not installed; once the first is gone its pipe is closed and a new one installs.
TEST(CloseSignalsTest, OneAtATimeAndItsPipeClosedWhenGone) {
    {
        platform::CloseSignals warmUp([](int) {});
    }  // the event loop's own first descriptors
    const auto before = OpenDescriptors();
    {
        platform::CloseSignals first([](int) {});
        ASSERT_TRUE(first.Installed());
        EXPECT_EQ(OpenDescriptors(), before + 2);
        platform::CloseSignals second([](int) {});
        EXPECT_FALSE(second.Installed());
    }
    EXPECT_EQ(OpenDescriptors(), before);
    platform::CloseSignals again([](int) {});
    EXPECT_TRUE(again.Installed());
}

}  // namespace
}  // namespace orvel::mainwindow::testing
