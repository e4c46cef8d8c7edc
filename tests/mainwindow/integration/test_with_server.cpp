// The main window against a real Orvel_Server with real component processes.

#include <signal.h>

#include <chrono>

#include "WithServerFixture.h"
#include "dcom/ServerRegistration.h"

namespace orvel::mainwindow::testing {
namespace {

TEST_F(WithServer, ConnectStartAllKilledComponentGoesOffLineDisconnect) {
    auto& w = Loaded();
    w.cmdServerOrvelHost_Click();
    ASSERT_TRUE(w.Connected()) << harness.ServerLog();
    EXPECT_EQ(w.LocalClientNumber(), 1);
    EXPECT_EQ(w.RemoteClientNumber(), 2);
    // The slots every local connection starts come up; the others stay off line.
    EXPECT_TRUE(RunUntil([&] { return Panel(3)->text() == "LOCAL"; }));
    EXPECT_TRUE(RunUntil([&] { return Panel(5)->text() == "LOCAL"; }));
    EXPECT_EQ(Panel(0)->text(), "Off Line");
    EXPECT_EQ(Find<QLabel>("lblOrvelServerOS")->text().left(6), "LINUX ");

    w.cmdServerConnect_Click();
    EXPECT_TRUE(RunUntil([&] { return AllUsedRowsShow("LOCAL"); }));

    // A component killed outside the console shows "Off Line" through the change event.
    auto pids = orvel::testing::ProcessesRunning(programs[9]);
    ASSERT_EQ(pids.size(), 1u);
    kill(pids[0], SIGKILL);
    EXPECT_TRUE(RunUntil([&] { return Panel(9)->text() == "Off Line"; }));

    w.cmdServerDisconnect_Click();
    EXPECT_TRUE(RunUntil([&] { return AllUsedRowsShow("Off Line"); }));

    w.cmdServerOrvelHost_Click();
    EXPECT_FALSE(w.Connected());
    EXPECT_EQ(Panel(3)->text(), "");
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Co&nnect");
}

TEST_F(WithServer, StoppedServerCostsOneDeadlineAndReconnectWorksAfterwards) {
    auto& w = Loaded();
    w.cmdServerOrvelHost_Click();
    ASSERT_TRUE(w.Connected());
    RunUntil([&] { return Panel(3)->text() == "LOCAL"; });

    orvel::testing::StopProcess(harness.serverPid);
    const auto start = std::chrono::steady_clock::now();
    w.RefreshServerList();
    const auto spent = std::chrono::steady_clock::now() - start;
    // One deadline, not one per call (the list makes some fifty calls).
    EXPECT_LT(spent, 3 * kDeadline);
    EXPECT_EQ(Panel(0)->text(), "DCom Error");
    const auto tickStart = std::chrono::steady_clock::now();
    for (int tick = 0; tick < 11; ++tick) w.tmrTimer_Timer();
    EXPECT_LT(std::chrono::steady_clock::now() - tickStart, kDeadline);

    // The loss was seen and said, without a box.
    EXPECT_FALSE(w.Connected());
    EXPECT_EQ(Status("keyTimeSource")->text(), "Connection to Local Server lost");
    EXPECT_EQ(Button("cmdServerOrvelHost")->text(), "Co&nnect");

    // The server answers again: connected without a click at the next retry.
    kill(harness.serverPid, SIGCONT);
    clock.Advance(5s);
    w.tmrTimer_Timer();
    EXPECT_TRUE(w.Connected()) << harness.ServerLog();
    EXPECT_TRUE(RunUntil([&] { return Panel(3)->text() == "LOCAL"; }));
}

TEST_F(WithServer, DeadServerNeverFreezesTheWindowNorCrashesIt) {
    auto& w = Loaded();
    w.cmdServerOrvelHost_Click();
    ASSERT_TRUE(w.Connected());
    harness.StopServer();
    const auto start = std::chrono::steady_clock::now();
    w.RefreshServerList();
    for (int tick = 0; tick < 11; ++tick) w.tmrTimer_Timer();
    harness.dispatcher.RunPending();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3 * kDeadline);
    EXPECT_FALSE(w.Connected());
    harness.StartServer();
    clock.Advance(5s);
    w.tmrTimer_Timer();
    EXPECT_TRUE(w.Connected());
}

}  // namespace
}  // namespace orvel::mainwindow::testing

namespace orvel::mainwindow::testing {
namespace {

// The Configure menu with the real role registration: the class registrations
// in the store move between LocalServer32 and _LocalServer32.
class RoleChange : public WithServer {
  protected:
    RoleChange() {
        status::FillComponentServerTable(table, harness.suiteFolder + "/");
        context->configureComputer = [this](std::int16_t role) {
            dcom::RegistrationContext registration{registryValues, table, settings, orvelPath};
            dcom::ConfigureComputer(registration, role);
        };
    }
    bool HasKey(const std::string& key) {
        platform::HKEY handle = 0;
        if (harness.Registry().RegOpenKeyExA(platform::HKEY_CLASSES_ROOT, key, 0,
                                             platform::KEY_READ, &handle) != 0) {
            return false;
        }
        harness.Registry().RegCloseKey(handle);
        return true;
    }
    std::string ClassKey(int slot, const char* server) {
        return "CLSID\\" +
               std::string(suite::ComponentDefinitions()[static_cast<std::size_t>(slot)].classId) +
               "\\" + server;
    }

    std::string orvelPath = harness.suiteFolder + "/";
    settings::RegistryContext registryValues{harness.Registry(), dialogs};
};

TEST_F(RoleChange, RolesMoveTheRegistrationsInTheStore) {
    auto& w = Loaded();
    EXPECT_TRUE(HasKey(ClassKey(3, "LocalServer32")));
    EXPECT_TRUE(HasKey(ClassKey(0, "LocalServer32")));

    dialogs.ExpectInput("srv");
    w.mnuConfigureIndex_Click(1);
    EXPECT_FALSE(HasKey(ClassKey(3, "LocalServer32")));
    EXPECT_TRUE(HasKey(ClassKey(3, "_LocalServer32")));
    EXPECT_TRUE(HasKey(ClassKey(0, "LocalServer32")));
    EXPECT_EQ(table[3].intHostKind, 2);
    EXPECT_EQ(table[0].intHostKind, 1);
    EXPECT_FALSE(settings.LocalServerSelected);

    dialogs.ExpectInput("srv");
    w.mnuConfigureIndex_Click(2);
    EXPECT_FALSE(HasKey(ClassKey(0, "LocalServer32")));
    EXPECT_TRUE(HasKey(ClassKey(0, "_LocalServer32")));
    EXPECT_EQ(table[0].intHostKind, 2);

    w.mnuConfigureIndex_Click(0);
    for (int slot : {0, 3, 9}) {
        EXPECT_TRUE(HasKey(ClassKey(slot, "LocalServer32"))) << slot;
        EXPECT_FALSE(HasKey(ClassKey(slot, "_LocalServer32"))) << slot;
    }
    // Back in the file-server role the console connects and starts locally.
    w.cmdServerOrvelHost_Click();
    ASSERT_TRUE(w.Connected());
    EXPECT_TRUE(RunUntil([&] { return Panel(3)->text() == "LOCAL"; }));
}

}  // namespace
}  // namespace orvel::mainwindow::testing
