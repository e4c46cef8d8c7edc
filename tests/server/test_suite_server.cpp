// The console's suite server client against the real Orvel_Server: events and
// real component processes over the local socket, adoption after a restart,
// and the program's commands. A server that stops answering is tried by the
// main window's tests with a server (one deadline, then lost, then back).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ChildAsNobody.h"
#include "RunningProgram.h"
#include "SuiteServerHarness.h"
#include "platform/VersionInfo.h"
#include "suite/SuiteServerSettings.h"
#include "suiteserver/ComponentRecords.h"
#include "suiteserver/ProcTable.h"

namespace orvel::testing {
namespace {

using namespace std::chrono_literals;
using platform::HKEY_LOCAL_MACHINE;
using suiteclient::SuiteServer;
using ::testing::HasSubstr;

// Index sequence of the change events one instance received, and its messages.
struct Received {
    std::vector<int> changes;
    std::vector<std::string> messages;
    suiteclient::SuiteServerEvents Handlers() {
        return {[this](std::int16_t idx) { changes.push_back(idx); },
                [this](std::int16_t m, std::int16_t v, const std::string& s) {
                    messages.push_back(std::to_string(m) + "," + std::to_string(v) + "," + s);
                }};
    }
};

std::shared_ptr<SuiteServer> CreateOrFail(suiteclient::SuiteServerFactory& factory) {
    auto created = factory.CreateLocal();
    EXPECT_TRUE(created) << created.error().number;
    return created ? *created : nullptr;
}

bool HasZombieChildren(pid_t parent) {
    for (const auto& [pid, entry] : suiteserver::ReadAllProcEntries()) {
        if (entry.parent == parent && entry.state == 'Z') return true;
    }
    return false;
}

TEST(SuiteServerComponents, StoppedComponentLeavesNothingBehind) {
    SuiteServerHarness harness;
    // A program of our own, so that only this component's processes run it.
    std::string helper = harness.suiteFolder + "/orvel-helper";
    std::filesystem::copy_file("/bin/sleep", helper);
    // The slot's program becomes a script: a helper that ignores the request
    // to end, and one that left the group.
    std::ofstream(harness.InstallComponent(12))
        << "#!/bin/sh\n"
        << "sh -c \"trap '' TERM; exec " << helper << " 600\" &\n"
        << "setsid sh -c \"trap '' TERM; exec " << helper << " 601\" &\n"
        << "exec " << helper << " 602\n";
    harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "StopGraceMs", 300);
    harness.StartServer();
    auto server = CreateOrFail(harness.Factory());
    ASSERT_TRUE(server);

    for (bool serverStops : {false, true}) {
        ASSERT_EQ(server->StartComponent(12).value_or(0), 1);
        ASSERT_TRUE(WaitUntil([&] { return ProcessesRunning(helper).size() == 3; }, 5s));
        if (serverStops) {
            harness.StopServer();
        } else {
            server->StopComponent(12);
        }
        EXPECT_TRUE(WaitUntil([&] { return ProcessesRunning(helper).empty(); }, 5s))
            << harness.ServerLog();
        if (!serverStops) {
            EXPECT_EQ(server->GetComponentStatus(12).value_or(99), 0);
            EXPECT_TRUE(WaitUntil([&] { return !HasZombieChildren(harness.serverPid); }, 3s));
            EXPECT_TRUE(WaitUntil(
                [&] {
                    return harness.ServerLog().find("has ended completely") != std::string::npos;
                },
                3s));
        }
    }
    EXPECT_THAT(harness.ServerLog(), HasSubstr("did not end in time; killed"));
}

TEST(SuiteServerComponents, AStartThatWaitsForAStopHoldsUpNoOtherCall) {
    SuiteServerHarness harness;
    // A component that ignores the request to end: its stop lasts the grace,
    // longer than the second a start waits for it, and short enough for the
    // server's own stop at the end.
    // It says when its trap is set: a stop sent before would end it at once.
    const std::string program = harness.InstallComponent(12);
    std::ofstream(program)
        << "#!/bin/sh\ntrap '' TERM\n: > \"$0.ready\"\nwhile :; do sleep 1; done\n";
    harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "StopGraceMs", 3000);
    harness.StartServer();
    auto operatorConsole = CreateOrFail(harness.Factory());
    auto otherConsole = CreateOrFail(harness.Factory());
    ASSERT_TRUE(operatorConsole && otherConsole);
    ASSERT_EQ(operatorConsole->StartComponent(12).value_or(0), 1);
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(program + ".ready"); }, 30s));
    ASSERT_TRUE(operatorConsole->StopComponent(12));

    // The start waits (up to a second) for the stop; meanwhile the other
    // console's calls are answered, not queued behind it.
    std::atomic<bool> startAnswered{false};
    std::thread start([&] {
        operatorConsole->StartComponent(12);
        startAnswered = true;
    });
    const bool waiting = WaitUntil(
        [&] {
            return harness.ServerLog().find("start waits until its stop has ended") !=
                   std::string::npos;
        },
        10s);
    bool answered = true;
    for (int i = 0; i < 3 && waiting; ++i)
        answered = answered && otherConsole->GetComponentStatus(12);
    const bool startStillWaiting = !startAnswered;
    start.join();
    ASSERT_TRUE(waiting);
    EXPECT_TRUE(answered);
    EXPECT_TRUE(startStillWaiting);
}

TEST(SuiteServerAdoption, ItsOwnComponentsOutliveAKilledServerAndAreAdoptedNoOtherProcess) {
    SuiteServerHarness harness;
    std::string deviceControl = harness.InstallComponent(0);
    std::string matrixStatus = harness.InstallComponent(5);
    std::string faultStat = harness.InstallComponent(2);
    std::string clockSync = harness.InstallComponent(8);
    std::string panelKeys = harness.InstallComponent(15);
    harness.StartServer();
    {
        auto first = CreateOrFail(harness.Factory());
        ASSERT_TRUE(first);
        ASSERT_EQ(first->StartComponent(0).value_or(0), 1);
        ASSERT_EQ(first->StartComponent(5).value_or(0), 1);
    }
    auto running0 = ProcessesRunning(deviceControl);
    auto running5 = ProcessesRunning(matrixStatus);
    ASSERT_EQ(running0.size(), 1u);
    ASSERT_EQ(running5.size(), 1u);
    kill(harness.serverPid, SIGKILL);  // without a word to its components
    waitpid(harness.serverPid, nullptr, 0);
    EXPECT_EQ(ProcessesRunning(deviceControl), running0);

    // Besides the server's own records: an unrelated process that now holds
    // recorded process ids and, as root, a recorded program run by another user.
    suiteserver::ComponentStateFile state(
        suiteserver::ComponentStatePath(harness.root + "/run", true), harness.root + "/run");
    auto records = state.Load();
    ASSERT_EQ(records.size(), 2u);
    fakes::RunningProgram sleeper("/bin/sleep", {"30"});
    const pid_t unrelated = sleeper.pid();
    ASSERT_GT(unrelated, 0);
    const auto started = suiteserver::ReadProcEntry(unrelated)->startTime;
    records.push_back({2, {unrelated, started}, faultStat, "", std::nullopt});  // another program
    records.push_back(
        {8, {unrelated, started + 1}, clockSync, "", std::nullopt});  // another process
    pid_t foreign = 0;
    if (fakes::CanSwitchUser()) {
        chmod(harness.root.c_str(), 0755);
        chmod(harness.suiteFolder.c_str(), 0755);
        ASSERT_EQ(fakes::ChildAsNobody([&] {  // left to init
                      pid_t pid = 0;
                      char* argv[] = {panelKeys.data(), nullptr};
                      return posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ);
                  }),
                  0);
        ASSERT_TRUE(WaitUntil([&] { return ProcessesRunning(panelKeys).size() == 1; }, 5s));
        foreign = ProcessesRunning(panelKeys)[0];
        records.push_back({15,
                           {foreign, suiteserver::ReadProcEntry(foreign)->startTime},
                           panelKeys,
                           "",
                           std::nullopt});
    }
    std::string why;
    ASSERT_TRUE(state.Save(records, &why)) << why;

    harness.StartServer();
    auto server = CreateOrFail(harness.Factory());
    ASSERT_TRUE(server);
    Received events;
    server->SetEventHandlers(events.Handlers());
    EXPECT_EQ(server->GetComponentStatus(0).value_or(99), 1) << harness.ServerLog();
    EXPECT_EQ(server->GetComponentStatus(5).value_or(99), 1) << harness.ServerLog();
    EXPECT_EQ(server->StartComponent(0).value_or(99), 1);
    EXPECT_EQ(ProcessesRunning(deviceControl), running0);
    EXPECT_EQ(ProcessesRunning(matrixStatus), running5);
    const std::string log = harness.ServerLog();
    EXPECT_THAT(log, HasSubstr("adopted"));
    EXPECT_EQ(server->GetComponentStatus(2).value_or(99), 0);
    EXPECT_EQ(server->GetComponentStatus(8).value_or(99), 0);
    EXPECT_THAT(log, HasSubstr("dropped: the process runs another program"));
    EXPECT_THAT(log, HasSubstr("dropped: its process id now belongs to another process"));
    if (foreign > 0) {
        EXPECT_EQ(server->GetComponentStatus(15).value_or(99), 0);
        EXPECT_THAT(log, HasSubstr("dropped: the process belongs to another user"));
    }

    // An adopted component is watched and stopped as one the server started;
    // the processes that were not adopted are left alone.
    server->StopComponent(0);
    EXPECT_TRUE(harness.dispatcher.RunUntil([&] { return !events.changes.empty(); }, 5s))
        << harness.ServerLog();
    EXPECT_EQ(server->GetComponentStatus(0).value_or(99), 0);
    EXPECT_TRUE(ProcessesRunning(deviceControl).empty());
    harness.StopServer();
    EXPECT_TRUE(ProcessesRunning(matrixStatus).empty()) << harness.ServerLog();
    EXPECT_EQ(waitpid(unrelated, nullptr, WNOHANG), 0);
    if (foreign > 0) {
        EXPECT_EQ(ProcessesRunning(panelKeys), std::vector<pid_t>{foreign});
        kill(foreign, SIGKILL);
    }
}

TEST(SuiteServerSession, ClientsEventsAndTheStatusReportOfARunningServer) {
    SuiteServerHarness harness;
    int exitCode = -1;
    harness.RunProgram({"Orvel_Server", "--status"}, &exitCode);
    EXPECT_EQ(exitCode, 3) << "no server runs";
    std::string program = harness.InstallComponent(0);
    harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Corvane", "ActiveSet", "Studio B");
    harness.StartServer();
    auto kept = CreateOrFail(harness.Factory());
    auto released = CreateOrFail(harness.Factory());
    ASSERT_TRUE(kept && released);
    Received onKept;
    Received onReleased;
    kept->SetEventHandlers(onKept.Handlers());
    released->SetEventHandlers(onReleased.Handlers());
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(kept->GetServerName().value_or(""), host);
    EXPECT_EQ(kept->GetServerVersion().value_or(""), platform::ProgramVersionInfo().releaseMarker);

    harness.RunProgram({"Orvel_Server", "--message", "Backup running\rPlease wait"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(harness.dispatcher.RunUntil(
        [&] { return !onKept.messages.empty() && !onReleased.messages.empty(); }, 2s));
    EXPECT_EQ(onReleased.messages[0], "0,-1,Backup running\rPlease wait");
    harness.RunProgram({"Orvel_Server", "--clear-message"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(harness.dispatcher.RunUntil([&] { return onKept.messages.back() == "0,0,"; }, 1s));

    // A console in a process of its own that is killed loses its registration.
    ASSERT_EQ(kept->ConnectClient("Console A").value_or(0), 1);
    int output = -1;
    pid_t probe = harness.StartProgram({"suite_probe", "hold"}, &output);
    ASSERT_GT(probe, 0);
    char line[64] = {};
    EXPECT_GT(read(output, line, sizeof line - 1), 0);
    close(output);
    EXPECT_STREQ(line, "registered 2\n");
    kill(probe, SIGKILL);
    waitpid(probe, nullptr, 0);
    EXPECT_TRUE(WaitUntil([&] { return kept->GetClientCount().value_or(0) == 1; }, 5s));
    EXPECT_THAT(harness.ServerLog(), HasSubstr("event stream broken"));

    ASSERT_EQ(kept->StartComponent(0).value_or(0), 1);
    ASSERT_TRUE(harness.dispatcher.RunUntil(
        [&] { return onKept.changes.size() == 1 && onReleased.changes.size() == 1; }, 1s));
    const std::string report = harness.RunProgram({"Orvel_Server", "--status"}, &exitCode);
    EXPECT_EQ(exitCode, 0) << harness.ServerLog();
    EXPECT_THAT(report, HasSubstr("Clients:    1\n"));
    EXPECT_THAT(report, HasSubstr("Active set: \"Studio B\"\n"));
    EXPECT_THAT(report, HasSubstr("TCP:        not served (remote use not enabled)\n"));
    EXPECT_THAT(report, ::testing::ContainsRegex(" 0  Device Control +running\n"));
    EXPECT_THAT(report, ::testing::ContainsRegex(" 1  [^\n]+ +not registered\n"));
    EXPECT_THAT(report, ::testing::ContainsRegex("19  Unused +unused\n"));

    // A component that ends by itself is noticed at once and reaped. The change
    // already on its way to the UI thread is not delivered to a released reference.
    auto running = ProcessesRunning(program);
    ASSERT_EQ(running.size(), 1u);
    kill(running[0], SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return kept->GetComponentStatus(0).value_or(99) == 0; }, 1s));
    released.reset();
    EXPECT_TRUE(harness.dispatcher.RunUntil([&] { return onKept.changes.size() == 2; }, 1s));
    harness.dispatcher.RunPending();
    EXPECT_EQ(onReleased.changes.size(), 1u);
    EXPECT_FALSE(HasZombieChildren(harness.serverPid));
    EXPECT_THAT(harness.ServerLog(), HasSubstr("(signal 9)"));

    // Refusals and a server that ended, as the console's error numbers.
    EXPECT_EQ(kept->GetComponentStatus(20).error().number, 5);
    harness.StopServer();
    EXPECT_EQ(kept->GetClientCount().error().number, 462);
    EXPECT_EQ(harness.Factory().CreateLocal().error().number, 429);
}

TEST(SuiteServerSession, ACallersInstanceCapIsReadFromTheRegistry) {
    SuiteServerHarness harness;
    harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server",
                     "MaxInstancesPerCaller", 3);
    harness.StartServer();
    std::vector<std::shared_ptr<SuiteServer>> held;
    for (int i = 0; i < 3; ++i) held.push_back(CreateOrFail(harness.Factory()));
    auto fourth = harness.Factory().CreateLocal();
    EXPECT_FALSE(fourth) << "one user holds three";
    held.pop_back();
    EXPECT_TRUE(harness.Factory().CreateLocal()) << "a released place is free again";
}

TEST(SuiteServerProgram, RegistrationUsageAndDamagedStore) {
    SuiteServerHarness harness;
    int exitCode = -1;
    harness.RunProgram({"Orvel_Server", "--regserver"}, &exitCode);
    harness.RunProgram({"Orvel_Server", "--regserver"}, &exitCode);  // again: no change, no error
    EXPECT_EQ(exitCode, 0);
    const std::string localServer =
        "CLSID\\" + std::string(suite::kSuiteServerClassId) + "\\LocalServer32";
    EXPECT_EQ(
        suite::ReadStringValue(harness.Registry(), platform::HKEY_CLASSES_ROOT, localServer, ""),
        std::filesystem::canonical(BinDir() + "/Orvel_Server").string());
    harness.RunProgram({"Orvel_Server", "--unregserver"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(
        suite::ReadStringValue(harness.Registry(), platform::HKEY_CLASSES_ROOT, localServer, ""));

    auto usage = harness.RunProgram({"Orvel_Server", "--help"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_THAT(usage, HasSubstr("--regserver"));
    harness.RunProgram({"Orvel_Server", "--frobnicate"}, &exitCode);
    EXPECT_EQ(exitCode, 2);
    harness.RunProgram({"Orvel_Server", "--message", "no server"}, &exitCode);
    EXPECT_EQ(exitCode, 1);

    // A damaged store: the server says so and answers what it can.
    std::ofstream(harness.root + "/registry.db", std::ios::trunc) << std::string(8192, '\x5a');
    std::filesystem::remove(harness.root + "/registry.db-wal");
    std::filesystem::remove(harness.root + "/registry.db-shm");
    harness.StartServer();
    auto server = CreateOrFail(harness.Factory());
    ASSERT_TRUE(server);
    EXPECT_EQ(server->GetActiveSet().value_or(""), "No Active Set");
    EXPECT_EQ(server->GetComponentStatus(0).value_or(99), 256);
    EXPECT_EQ(server->ConnectClient("ClientName").value_or(0), 1);
    EXPECT_THAT(harness.ServerLog(), HasSubstr("registry store problem"));
}

}  // namespace
}  // namespace orvel::testing
