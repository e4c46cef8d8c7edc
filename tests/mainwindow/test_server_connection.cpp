// The connection manager on its own, against scripted suite servers: what it
// tells the window, its refusals, the server events and the component stops.

#include <QObject>

#include "FakeProgramStarter.h"
#include "MainWindowFixture.h"
#include "mainwindow/ServerConnection.h"

namespace orvel::mainwindow::testing {
namespace {

class ServerConnectionTest : public ::testing::Test {
  protected:
    ServerConnectionTest() {
        status::FillComponentServerTable(table, "/suite/");
        launcher::FillApplicationRows(catalogue, "/suite/", "/corvane/bin/", "Shaper.exe");
        ApplyRoleHostKinds(table, settings, 0);
        settings.LocalServerName = "Local Server";
        factory.next = {local, remote};
        Make();
    }
    ~ServerConnectionTest() override { EXPECT_TRUE(dialogs.ScriptDone()) << "boxes left unshown"; }

    void Make() {
        connection = std::make_unique<ServerConnection>(
            ServerConnection::Services{settings, dialogs, clock, windows, files, factory, table,
                                       catalogue, "Orvel Control Console", &starter});
        auto* c = connection.get();
        auto note = [this](std::string what) { return [this, what] { seen.push_back(what); }; };
        QObject::connect(c, &ServerConnection::connecting, note("connecting"));
        QObject::connect(c, &ServerConnection::registering, note("registering"));
        QObject::connect(c, &ServerConnection::sideLocked, [this](bool localSide) {
            seen.push_back(localSide ? "lock local" : "lock remote");
        });
        QObject::connect(c, &ServerConnection::sidesReleased, note("released"));
        QObject::connect(c, &ServerConnection::disconnected, note("disconnected"));
        QObject::connect(c, &ServerConnection::identityChanged, note("identity"));
        QObject::connect(c, &ServerConnection::rowsChanged, note("rows"));
        QObject::connect(
            c, &ServerConnection::serverChange, [this](std::int16_t kind, std::int16_t index) {
                seen.push_back("change " + std::to_string(kind) + ":" + std::to_string(index));
            });
        QObject::connect(c, &ServerConnection::serverMessage,
                         [this](std::int16_t, std::int16_t, const std::string& text) {
                             seen.push_back("message " + text);
                         });
    }

    status::ComponentServerTable table;
    launcher::ApplicationCatalogue catalogue;
    settings::ConsoleSettings settings;
    fakes::FakeDialogs dialogs;
    fakes::FakeClock clock;
    fakes::FakeWindowSystem windows;
    fakes::PlacedFileSystem files{"/opt/console"};
    fakes::FakeSuiteServerFactory factory;
    fakes::FakeProgramStarter starter;
    std::shared_ptr<fakes::FakeSuiteServer> local = std::make_shared<fakes::FakeSuiteServer>();
    std::shared_ptr<fakes::FakeSuiteServer> remote = std::make_shared<fakes::FakeSuiteServer>();
    std::unique_ptr<ServerConnection> connection;
    std::vector<std::string> seen;
};

TEST_F(ServerConnectionTest, LocalConnectTellsEachStepInOrder) {
    connection->Connect();
    ASSERT_TRUE(connection->Connected());
    EXPECT_EQ(seen, (std::vector<std::string>{"connecting", "registering", "lock local", "identity",
                                              "rows"}));
    EXPECT_EQ(connection->LocalClientNumber(), 2);
    EXPECT_EQ(connection->OtherClientCount(), 0);

    seen.clear();
    EXPECT_TRUE(connection->Disconnect());
    EXPECT_FALSE(connection->Connected());
    EXPECT_EQ(seen, (std::vector<std::string>{"disconnected", "released", "identity", "rows"}));
    EXPECT_TRUE(connection->ConnectHeld());
    clock.Advance(std::chrono::seconds(5));
    EXPECT_FALSE(connection->ConnectHeld());
}

TEST_F(ServerConnectionTest, DComErrorReasonsByNumber) {
    for (auto [number, reason] :
         std::vector<std::pair<int, std::string>>{{70, "'Access is Denied'"},
                                                  {91, "'Cannot Start DCom'"},
                                                  {429, "'Cannot Start DCom'"},
                                                  {462, "'General DCom Error'"}}) {
        dialogs.boxes.clear();
        seen.clear();
        factory.creationFailures = {platform::MakeError(number)};
        dialogs.ExpectBox("DCom Error: " + std::to_string(number));
        connection->Connect();
        ASSERT_EQ(dialogs.boxes.size(), 1u);
        EXPECT_EQ(dialogs.boxes[0].text.rfind(reason + "\r\r", 0), 0u) << number;
        EXPECT_FALSE(connection->Connected());
        EXPECT_EQ(seen,
                  (std::vector<std::string>{"connecting", "disconnected", "identity", "rows"}))
            << number;
    }
}

TEST_F(ServerConnectionTest, ARefusedRegistrationWithdrawsBoth) {
    remote->failures["ConnectClient"] = platform::MakeError(70);
    dialogs.ExpectBox("DCom Error: 70");
    connection->Connect();
    EXPECT_FALSE(connection->Connected());
    EXPECT_EQ(local->CountCalls("DisconnectClient"), 1);
    EXPECT_EQ(connection->Local(), nullptr);
    EXPECT_EQ(connection->Remote(), nullptr);
    EXPECT_EQ(local->CountCalls("StartComponent"), 0);
    EXPECT_EQ(remote->CountCalls("GetActiveSet"), 0);
    EXPECT_EQ(seen.back(), "rows");
    EXPECT_NE(std::find(seen.begin(), seen.end(), "disconnected"), seen.end());
}

TEST_F(ServerConnectionTest, EventsCarryTheirHostKindAndEndWithTheManager) {
    connection->Connect();
    seen.clear();
    local->RaiseServerChange(4);
    remote->RaiseServerChange(3);
    remote->RaiseMessage(0, -1, "wait");
    EXPECT_EQ(seen, (std::vector<std::string>{"change 1:4", "change 2:3", "message wait"}));
    // An event that arrives after the manager is gone does nothing.
    auto handlers = local->handlers;
    connection.reset();
    seen.clear();
    handlers.serverChange(4);
    handlers.message(0, -1, "late");
    EXPECT_TRUE(seen.empty());
}

TEST_F(ServerConnectionTest, StopUnneededServersKeepsWhatIsNeededOrWanted) {
    connection->Connect();
    for (auto& s : local->statuses) s = 1;
    for (auto& s : remote->statuses) s = 1;
    local->clientCount = 3;  // another client: nothing stops
    connection->StopUnneededServers();
    EXPECT_EQ(local->CountCalls("StopComponent"), 0);

    local->clientCount = 2;
    windows.AddWindow("MatrixPanel", 11);  // needs 4 and 5
    table[9].blnKeepRunning = true;
    seen.clear();
    connection->StopUnneededServers();
    EXPECT_EQ(local->CountCalls("StopComponent(4)"), 0);
    EXPECT_EQ(local->CountCalls("StopComponent(5)"), 0);
    EXPECT_EQ(local->CountCalls("StopComponent(9)"), 0);
    EXPECT_EQ(local->CountCalls("StopComponent(0)"), 1);
    EXPECT_EQ(remote->CountCalls("StopComponent"), 0);  // file server slots stay
    EXPECT_EQ(static_cast<int>(seen.size()), local->CountCalls("StopComponent"));

    // It ends at its first failed status call.
    for (auto& s : local->statuses) s = 1;
    local->calls.clear();
    local->failures["GetComponentStatus"] = platform::MakeError(70);
    connection->StopUnneededServers();
    EXPECT_EQ(local->CountCalls("GetComponentStatus"), 1);
    EXPECT_EQ(local->CountCalls("StopComponent"), 0);
}

TEST_F(ServerConnectionTest, SlotsTheLocalConnectStartedKeepRunning) {
    connection->Connect();
    EXPECT_EQ(local->CountCalls("StartComponent(5)"), 1);
    EXPECT_EQ(local->CountCalls("StartComponent(8)"), 1);
    for (auto& s : local->statuses) s = 1;
    for (int tick = 0; tick < 3; ++tick) connection->StopUnneededServers();
    EXPECT_EQ(local->CountCalls("StopComponent(5)"), 0);
    EXPECT_EQ(local->CountCalls("StopComponent(8)"), 0);
    EXPECT_EQ(local->CountCalls("StopComponent(0)"), 1);
}

TEST_F(ServerConnectionTest, AServerLostDuringTheConnectEndsItAtTheFirst462) {
    local->failures["StartComponent"] = platform::MakeError(462);
    dialogs.ExpectBox("DCom Error: 462");
    connection->Connect();
    EXPECT_EQ(local->CountCalls("StartComponent"), 1);
    EXPECT_EQ(remote->CountCalls("GetActiveSet"), 0);
    EXPECT_FALSE(connection->Connected());
    EXPECT_EQ(connection->Local(), nullptr);
    EXPECT_EQ(seen.back(), "rows");
    EXPECT_NE(std::find(seen.begin(), seen.end(), "released"), seen.end());
    // It never stood: nothing is tried again.
    EXPECT_FALSE(connection->Retrying());
}

// A lost server is released without a call: a hung one costs one deadline.
TEST_F(ServerConnectionTest, ALostReferenceIsWithdrawnWithoutACall) {
    auto a = std::make_shared<fakes::FakeSuiteServer>();
    auto b = std::make_shared<fakes::FakeSuiteServer>();
    factory.next = {a, b};
    connection->Connect();
    ASSERT_TRUE(connection->Connected());
    a->calls.clear();
    b->calls.clear();
    a->lost = true;
    EXPECT_EQ(connection->OtherClientCount(), 0);  // the one call that is lost
    connection->WithdrawRegistrations();
    EXPECT_EQ(a->calls, (std::vector<std::string>{"GetClientCount", "Abandon"}));
    EXPECT_EQ(b->calls, (std::vector<std::string>{"Abandon"}));

    // A loss found by the events: told once, then tried again quietly.
    factory.next = {local, remote};
    connection->Connect();
    std::vector<std::string> notices;
    QObject::connect(connection.get(), &ServerConnection::connectionLost,
                     [&](const std::string& notice) { notices.push_back(notice); });
    local->lostHandler();
    EXPECT_TRUE(connection->CheckForLoss());
    EXPECT_FALSE(connection->CheckForLoss());
    EXPECT_EQ(notices, (std::vector<std::string>{"Connection to Local Server lost"}));
    EXPECT_EQ(local->CountCalls("DisconnectClient") + remote->CountCalls("DisconnectClient"), 0);
    EXPECT_TRUE(connection->Retrying());
    EXPECT_FALSE(connection->ConnectHeld());
}

TEST_F(ServerConnectionTest, RemoteNameIsCheckedAndCancelSelectsTheLocalSide) {
    dialogs.ExpectInput("srv-2.corp");
    EXPECT_TRUE(connection->ChooseRemoteServer());
    EXPECT_EQ(settings.RemoteServerName, "SRV-2.CORP");
    EXPECT_FALSE(settings.LocalServerSelected);
    EXPECT_EQ(dialogs.inputDefaults.back(), "");

    dialogs.ExpectInput("bad name<b>").ExpectBox("Remote Server Name");
    EXPECT_FALSE(connection->ChooseRemoteServer());
    EXPECT_EQ(settings.RemoteServerName, "SRV-2.CORP");
    EXPECT_EQ(dialogs.inputDefaults.back(), "SRV-2.CORP");
    EXPECT_NE(dialogs.boxes.at(0).text.find("'BAD NAME<B>' is not a valid server name"),
              std::string::npos);

    // Only ASCII letters change case: a long s is no "S", whatever the locale.
    dialogs.ExpectInput("file\xC5\xBFrv").ExpectBox("Remote Server Name");
    EXPECT_FALSE(connection->ChooseRemoteServer());
    EXPECT_EQ(settings.RemoteServerName, "SRV-2.CORP");

    dialogs.ExpectInput("");
    EXPECT_TRUE(connection->ChooseRemoteServer());
    EXPECT_TRUE(settings.LocalServerSelected);
    EXPECT_EQ(settings.LocalServerName, "Local Server");
}

// The forced close names the local count or says nothing.
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
    EXPECT_EQ(dialogs.boxes.size(), 1u) << "no box with a count of 0";
}

}  // namespace
}  // namespace orvel::mainwindow::testing
