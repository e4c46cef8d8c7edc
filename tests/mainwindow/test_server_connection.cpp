// The connection manager on its own, against scripted suite servers: what it
// tells the window, its refusals and boxes, the server events, losses and
// retries, and the component starts and stops.

#include <QObject>
#include <future>
#include <utility>

#include "FakeProgramStarter.h"
#include "MainWindowFixture.h"
#include "mainwindow/ServerConnection.h"

namespace orvel::mainwindow::testing {
namespace {

using std::chrono::seconds;
using Texts = std::vector<std::string>;

// The window's fakes, without the window; the signals noted in seen.
class ServerConnectionTest : public MainWindowTest {
  protected:
    ServerConnectionTest() {
        ApplyRoleHostKinds(table, settings, 0);
        settings.LocalServerName = "Local Server";
        ScriptServers();
        connection = std::make_unique<ServerConnection>(
            ServerConnection::Services{settings, dialogs, clock, windows, files, factory, table,
                                       catalogue, "Orvel Control Console", &starter});
        auto* c = connection.get();
        auto note = [this](std::string what) { return [this, what] { seen.push_back(what); }; };
        QObject::connect(c, &ServerConnection::connecting, note("connecting"));
        QObject::connect(c, &ServerConnection::registering, note("registering"));
        QObject::connect(c, &ServerConnection::sideLocked, [this](bool local) {
            seen.push_back(local ? "lock local" : "lock remote");
        });
        QObject::connect(c, &ServerConnection::sidesReleased, note("released"));
        QObject::connect(c, &ServerConnection::disconnected, note("disconnected"));
        QObject::connect(c, &ServerConnection::identityChanged, note("identity"));
        QObject::connect(c, &ServerConnection::rowsChanged, note("rows"));
    }
    bool Seen(const char* what) { return std::find(seen.begin(), seen.end(), what) != seen.end(); }

    fakes::FakeProgramStarter starter;
    std::unique_ptr<ServerConnection> connection;
    Texts seen;
};

TEST_F(ServerConnectionTest, LocalConnectTellsEachStepInOrder) {
    connection->Connect();
    ASSERT_TRUE(connection->Connected());
    auto handlers = local->handlers;
    EXPECT_EQ(seen, (Texts{"connecting", "registering", "lock local", "identity", "rows"}));
    EXPECT_EQ(connection->LocalClientNumber(), 2);
    EXPECT_EQ(connection->OtherClientCount(), 0);
    // Start mode 20: 5 and 8 through the local reference, 3, 7, 11, 15
    // through the file server's.
    EXPECT_EQ(local->CountCalls("StartComponent"), 2);
    for (int slot : {3, 7, 11, 15}) {
        EXPECT_EQ(remote->CountCalls("StartComponent(" + std::to_string(slot) + ")"), 1) << slot;
    }

    seen.clear();
    EXPECT_TRUE(connection->Disconnect());
    EXPECT_FALSE(connection->Connected());
    EXPECT_EQ(local->CountCalls("DisconnectClient") + remote->CountCalls("DisconnectClient"), 2);
    EXPECT_EQ(seen, (Texts{"disconnected", "released", "identity", "rows"}));
    EXPECT_TRUE(connection->ConnectHeld());
    clock.Advance(seconds(5));
    EXPECT_FALSE(connection->ConnectHeld());

    // The server's threads may deliver an event while the manager goes away.
    connection.reset();
    handlers.serverChange(4);
    handlers.message(0, -1, "late");
}

// A failed creation: one box with the reason by number, the second
// creation not tried.
TEST_F(ServerConnectionTest, DComErrorsGiveOneBoxWithTheirReason) {
    for (auto [number, reason] :
         std::vector<std::pair<int, std::string>>{{70, "'Access is Denied'"},
                                                  {91, "'Cannot Start DCom'"},
                                                  {462, "'General DCom Error'"},
                                                  {429, "'Cannot Start DCom'"}}) {
        dialogs.boxes.clear();
        seen.clear();
        factory.creationFailures = {platform::MakeError(number)};
        dialogs.ExpectBox("DCom Error: " + std::to_string(number));
        connection->Connect();
        EXPECT_EQ(BoxText(0).rfind(reason + "\r\r", 0), 0u) << number;
        EXPECT_EQ(dialogs.boxes.at(0).style, 16);
        // Every way a connection ends paints the one disconnected look.
        EXPECT_EQ(seen, (Texts{"connecting", "disconnected", "released", "identity", "rows"}))
            << number;
    }
    EXPECT_EQ(factory.localCreations, 4);
    const std::string end = "Permissions.\r\r(ActiveX component can't create object)";
    EXPECT_EQ(BoxText(0).substr(BoxText(0).size() - end.size()), end);
    EXPECT_EQ(connection->StatusNotice().text, "") << "a refusal without a known reason";
}

// The box keeps its fixed text; the reason the console can tell stays in
// the status notice after it, until the operator's next connect or choice.
TEST_F(ServerConnectionTest, ARefusalsReasonOutlivesItsBox) {
    auto refused = platform::MakeError(429);
    refused.reason = "certificate verify failed";
    factory.creationFailures = {refused};
    dialogs.ExpectBox("DCom Error: 429");
    connection->Connect();
    EXPECT_EQ(BoxText(0).find("certificate"), std::string::npos);
    EXPECT_EQ(connection->StatusNotice().text, "Not connected: certificate verify failed");
    EXPECT_EQ(connection->StatusNotice().toolTip, "DCom Error 429: certificate verify failed");
    connection->StopRetrying();
    EXPECT_EQ(connection->StatusNotice().text, "");

    factory.creationFailures = {refused};
    dialogs.ExpectBox("DCom Error: 429");
    connection->Connect();
    ScriptServers();
    connection->Connect();
    EXPECT_TRUE(connection->Connected());
    EXPECT_EQ(connection->StatusNotice().text, "") << "gone once connected";
}

// A user outside the operators' group can do nothing with the DCom advice:
// the refusal names what to ask the administrator for, in the box and after
// it. Another 70 (a refused registration) keeps its DCom box.
TEST_F(ServerConnectionTest, ARefusedNonMemberHearsWhatToAskFor) {
    connection = std::make_unique<ServerConnection>(
        ServerConnection::Services{settings, dialogs, clock, windows, files, factory, table,
                                   catalogue, "Orvel Control Console", &starter, nullptr, "guest"});
    auto refused = platform::MakeError(70);
    refused.reason = "permission denied: not in group orvel";
    factory.creationFailures = {refused};
    dialogs.ExpectBox("Not an Orvel Operator");
    connection->Connect();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_NE(BoxText(0).find("(adduser guest orvel), then log in again."), std::string::npos)
        << BoxText(0);
    EXPECT_EQ(connection->StatusNotice().text,
              "Not connected: permission denied: not in group orvel");

    ScriptServers();
    remote->failures["ConnectClient"] = platform::MakeError(70);
    dialogs.ExpectBox("DCom Error: 70");
    connection->Connect();
}

// A connect that fails midway withdraws what it registered and stops there:
// a refused registration, or a server lost at the first start.
TEST_F(ServerConnectionTest, AConnectThatFailsMidwayLeavesNothingBehind) {
    remote->failures["ConnectClient"] = platform::MakeError(70);
    dialogs.ExpectBox("DCom Error: 70");
    connection->Connect();
    EXPECT_EQ(local->CountCalls("DisconnectClient"), 1);
    EXPECT_EQ(local->CountCalls("StartComponent"), 0);
    EXPECT_TRUE(Seen("disconnected"));

    remote->failures.clear();
    local->failures["StartComponent"] = platform::MakeError(462);
    ScriptServers();
    local->calls.clear();
    dialogs.ExpectBox("DCom Error: 462");
    connection->Connect();
    EXPECT_EQ(local->CountCalls("StartComponent"), 1);
    EXPECT_TRUE(Seen("released"));
    EXPECT_FALSE(connection->Retrying()) << "it never stood: nothing is tried again";

    EXPECT_FALSE(connection->Connected());
    EXPECT_EQ(connection->Local(), nullptr);
    EXPECT_EQ(remote->CountCalls("GetActiveSet"), 0);
    EXPECT_EQ(seen.back(), "rows");
}

// Records the order in which the registrations on two servers are withdrawn.
class WithdrawalJournal : public fakes::FakeSuiteServer {
  public:
    WithdrawalJournal(Texts& journal, std::string name)
        : journal_(journal), name_(std::move(name)) {}
    platform::Outcome<std::int16_t> DisconnectClient() override {
        journal_.push_back(name_);
        return FakeSuiteServer::DisconnectClient();
    }

  private:
    Texts& journal_;
    std::string name_;
};

// A remote session needs the host console on the server: without it the
// console leaves as a disconnection does, the server without it first.
TEST_F(ServerConnectionTest, RemoteSessionWithoutAHostConsoleIsLeft) {
    Texts withdrawn;
    factory.next = {std::make_shared<WithdrawalJournal>(withdrawn, "local"),
                    std::make_shared<WithdrawalJournal>(withdrawn, "remote")};
    factory.next[1]->connectResult = 1;
    ApplyRoleHostKinds(table, settings, 1);
    settings.RemoteServerName = "SRV";
    dialogs.ExpectBox("");
    connection->Connect();
    EXPECT_EQ(factory.remoteNames, Texts{"SRV"});
    EXPECT_EQ(BoxText(0),
              "A Orvel Host application is NOT running on the server !\r\rYou CANNOT run a "
              "REMOTE session without a Orvel Host running on the server...");
    EXPECT_EQ(withdrawn, (Texts{"remote", "local"}));
    EXPECT_FALSE(connection->Connected());
    EXPECT_EQ(connection->RemoteClientNumber(), 0);
    EXPECT_TRUE(Seen("disconnected"));
}

// Other clients make the disconnect ask first; a running tool is never left
// behind: Yes asks it to close, No brings it forward.
TEST_F(ServerConnectionTest, DisconnectAsksOverClientsAndRefusesOverTools) {
    connection->Connect();
    local->clientCount = 4;
    dialogs.ExpectBox("Disconnect Server", platform::vbNo);
    EXPECT_FALSE(connection->Disconnect());
    EXPECT_EQ(BoxText(0),
              "This Server has 2 Client(s) connected, do you want to Disconnect?\r\rThe Remote "
              "Client(s) will NOT be disconnected from the Orvel_Server...");
    EXPECT_EQ(dialogs.boxes.at(0).style, 292);

    local->clientCount = 2;
    windows.closeRemovesWindow = false;  // the tool asks to save first
    windows.AddWindow("Card Health", 77);
    dialogs.ExpectBox("Cannot Disconnect Orvel Server", platform::vbYes);
    EXPECT_FALSE(connection->Disconnect());
    EXPECT_EQ(BoxText(1),
              "Cannot Disconnect !\r\r'Card Health' is still Running\r\rDo you want to Close the "
              "Application?");
    EXPECT_EQ(windows.closed, std::vector<platform::HWND>{77});
    dialogs.ExpectBox("Cannot Disconnect Orvel Server", platform::vbNo);
    EXPECT_FALSE(connection->Disconnect());
    EXPECT_EQ(windows.shown,
              (std::vector<std::pair<platform::HWND, int>>{{77, platform::SW_SHOWNORMAL}}));
    EXPECT_EQ(windows.raised, std::vector<platform::HWND>{77});
}

// Dialogs whose next box lets the test change the world while it stands.
class DialogsWithAPause : public fakes::FakeDialogs {
  public:
    int MsgBox(std::string_view text, int style, std::string_view title) override {
        if (whileShown) std::exchange(whileShown, nullptr)();
        return FakeDialogs::MsgBox(text, style, title);
    }
    std::function<void()> whileShown;
};

// The Cannot Disconnect box's answer acts on the tool's window as it is
// after the box: a window the tool opened anew, or none once it closed.
TEST_F(ServerConnectionTest, CannotDisconnectActsOnTheWindowFoundAfterTheBox) {
    DialogsWithAPause pausing;
    ServerConnection c({settings, pausing, clock, windows, files, factory, table, catalogue,
                        "Orvel Control Console", &starter});
    c.Connect();
    windows.closeRemovesWindow = false;
    windows.AddWindow("Card Health", 77);
    auto reopen = [this](platform::HWND from, platform::HWND to) {
        return [this, from, to] {
            windows.RemoveWindow(from);
            windows.AddWindow("Card Health", to);
        };
    };
    pausing.whileShown = reopen(77, 78);
    pausing.ExpectBox("Cannot Disconnect Orvel Server", platform::vbYes);
    EXPECT_FALSE(c.Disconnect());
    EXPECT_EQ(windows.closed, std::vector<platform::HWND>{78});

    pausing.whileShown = reopen(78, 79);
    pausing.ExpectBox("Cannot Disconnect Orvel Server", platform::vbNo);
    EXPECT_FALSE(c.Disconnect());
    EXPECT_EQ(windows.shown,
              (std::vector<std::pair<platform::HWND, int>>{{79, platform::SW_SHOWNORMAL}}));
    EXPECT_EQ(windows.raised, std::vector<platform::HWND>{79});

    // Closed meanwhile: nothing goes to a stale window, and it stays connected.
    pausing.whileShown = [this] { windows.RemoveWindow(79); };
    pausing.ExpectBox("Cannot Disconnect Orvel Server", platform::vbYes);
    EXPECT_FALSE(c.Disconnect());
    EXPECT_EQ(windows.closed.size(), 1u);
    EXPECT_TRUE(c.Connected());
    EXPECT_TRUE(pausing.ScriptDone());
}

// With a worker the connect's server calls leave the caller at once; the
// results come back through the dispatcher in the same steps as inline.
TEST_F(ServerConnectionTest, AThreadedConnectLeavesTheCallerAtOnceAndKeepsItsSteps) {
    factory.HoldCreations();
    ServerConnection c({settings, dialogs, clock, windows, files, factory, table, catalogue,
                        "Orvel Control Console", &starter, &ui});
    Texts steps;
    QObject::connect(&c, &ServerConnection::connecting, [&] { steps.push_back("connecting"); });
    QObject::connect(&c, &ServerConnection::registering, [&] { steps.push_back("registering"); });
    QObject::connect(&c, &ServerConnection::connected, [&] { steps.push_back("connected"); });
    QObject::connect(&c, &ServerConnection::rowsChanged, [&] { steps.push_back("rows"); });

    c.Connect();  // returns with the creation still waiting on the worker
    EXPECT_EQ(c.State(), ConnectionState::Connecting);
    c.Connect();  // a second click starts nothing
    factory.ReleaseCreations();
    ASSERT_TRUE(ui.RunUntil([&] { return c.Connected(); }, std::chrono::seconds(20)));
    EXPECT_EQ(steps, (Texts{"connecting", "registering", "connected", "rows"}));
    EXPECT_EQ(factory.localCreations, 2);
    EXPECT_EQ(c.ActiveSet(), "Set A");
    EXPECT_EQ(c.ActiveSetServer(), "FILESRV");

    EXPECT_TRUE(c.Disconnect());
    EXPECT_EQ(c.Local(), nullptr) << "released at once, withdrawn on the worker";
}

TEST_F(ServerConnectionTest, ConnectAndDisconnectAll) {
    connection->Connect();
    local->calls.clear();
    remote->calls.clear();
    connection->ConnectAll();
    EXPECT_EQ(Texts(remote->calls.begin(), remote->calls.begin() + 3),
              (Texts{"StartComponent(3)", "StartComponent(7)", "StartComponent(11)"}));
    EXPECT_EQ(local->CountCalls("StartComponent"), 12);
    EXPECT_TRUE(table[0].blnKeepRunning);
    EXPECT_EQ(dialogs.pointer, platform::vbDefault);

    windows.AddWindow("LinkCheck", 9);
    dialogs.ExpectBox("Applications Are Running");
    connection->DisconnectAll();
    EXPECT_EQ(local->CountCalls("StopComponent"), 0);
    windows.RemoveWindow(9);
    connection->DisconnectAll();
    EXPECT_EQ(local->CountCalls("StopComponent"), 12);
    EXPECT_FALSE(table[0].blnKeepRunning);
}

// Kept: what another client, a running tool, the operator's own start or the
// local connect needs. It ends at its first failed status call.
TEST_F(ServerConnectionTest, StopUnneededServersKeepsWhatIsNeededOrWanted) {
    connection->Connect();
    AllRunning();
    local->clientCount = 3;  // another client: nothing stops
    connection->StopUnneededServers();
    EXPECT_EQ(local->CountCalls("StopComponent"), 0);

    local->clientCount = 2;
    windows.AddWindow("MatrixPanel", 11);  // needs 4 and 5
    table[9].blnKeepRunning = true;
    seen.clear();
    connection->StopUnneededServers();
    for (int kept : {4, 5, 8, 9}) {
        EXPECT_EQ(local->CountCalls("StopComponent(" + std::to_string(kept) + ")"), 0) << kept;
    }
    EXPECT_EQ(local->CountCalls("StopComponent(0)"), 1);
    EXPECT_EQ(remote->CountCalls("StopComponent"), 0);  // file server slots stay
    EXPECT_EQ(static_cast<int>(seen.size()), local->CountCalls("StopComponent"));

    local->statuses.fill(1);
    local->calls.clear();
    local->failures["GetComponentStatus"] = platform::MakeError(70);
    connection->StopUnneededServers();
    EXPECT_EQ(local->CountCalls("GetComponentStatus"), 1);
    EXPECT_EQ(local->CountCalls("StopComponent"), 0);
}

// "No Active Set" is told at the operator's connect and once per loss by the
// quiet retries: a failed retry shows nothing, the one that stands one box
// (the scripted dialogs fail on any other).
TEST_F(ServerConnectionTest, NoActiveSetIsToldOncePerLoss) {
    remote->activeSet = "No Active Set";
    dialogs.ExpectBox("No Active CORVANE Set Selected");
    connection->Connect();
    ASSERT_TRUE(connection->Connected());
    EXPECT_EQ(BoxText(0),
              "There currently is no Active Set on the Orvel File Server\r\rMany Orvel "
              "Applications will not run properly\rwithout an Active Set !\r\rRun the Corvane "
              "Compiler and/or\rControl Center to make your selection.");
    EXPECT_EQ(dialogs.boxes.at(0).style, 48);

    remote->lostHandler();
    ASSERT_TRUE(connection->CheckForLoss());
    factory.creationFailures = {platform::MakeError(429)};
    clock.Advance(seconds(5));
    connection->RetryIfDue();
    ASSERT_FALSE(connection->Connected());
    ScriptServers();
    dialogs.ExpectBox("No Active CORVANE Set Selected");
    clock.Advance(seconds(5));
    connection->RetryIfDue();
    ASSERT_TRUE(connection->Connected());
}

TEST_F(ServerConnectionTest, RemoteNameIsCheckedAndCancelSelectsTheLocalSide) {
    dialogs.ExpectInput("srv-2.corp");
    EXPECT_TRUE(connection->ChooseRemoteServer());
    EXPECT_EQ(settings.RemoteServerName, "SRV-2.CORP");
    EXPECT_FALSE(settings.LocalServerSelected);
    EXPECT_EQ(dialogs.inputDefaults.back(), "");

    dialogs.ExpectInput("bad name<b>").ExpectBox("Remote Server Name");
    EXPECT_FALSE(connection->ChooseRemoteServer());
    EXPECT_EQ(dialogs.inputDefaults.back(), "SRV-2.CORP");
    EXPECT_NE(BoxText(0).find("'BAD NAME<B>' is not a valid server name"), std::string::npos);

    // Only ASCII letters change case: a long s is no "S", whatever the locale.
    dialogs.ExpectInput("file\xC5\xBFrv").ExpectBox("Remote Server Name");
    EXPECT_FALSE(connection->ChooseRemoteServer());
    EXPECT_EQ(settings.RemoteServerName, "SRV-2.CORP");

    settings.LocalServerName.clear();
    dialogs.ExpectInput("");
    EXPECT_TRUE(connection->ChooseRemoteServer());
    EXPECT_TRUE(settings.LocalServerSelected);
    EXPECT_EQ(settings.LocalServerName, "Local Server");
}

// The forced close names the local count or says nothing (the scripted
// dialogs fail on any box not expected).
TEST_F(ServerConnectionTest, ForcedCloseWarnsOnlyWithACount) {
    remote->connectResult = 1;  // first on the second instance
    remote->clientCount = 3;
    local->clientCount = 4;
    connection->Connect();
    dialogs.ExpectBox("Disconnecting Server");
    connection->WarnOfForcedClose();
    EXPECT_EQ(dialogs.boxes.at(0).text,
              "This Server has 3 Client(s) connected.\r\rYou are FORCING close of this "
              "application...\r\rThe Remote Client(s) will NOT be disconnected from the "
              "Orvel_Server...");
    local->failures["GetClientCount"] = {462, "The remote server machine does not exist"};
    connection->WarnOfForcedClose();
}

}  // namespace
}  // namespace orvel::mainwindow::testing
