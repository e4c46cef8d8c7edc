// The console's suite server client against the real Orvel_Server.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "SuiteServerHarness.h"
#include "platform/VersionInfo.h"
#include "suite/SuiteServerSettings.h"
#include "suiteserver/ComponentRecords.h"
#include "suiteserver/ProcTable.h"

extern char** environ;

namespace orvel::testing {
namespace {

using namespace std::chrono_literals;
using platform::HKEY_LOCAL_MACHINE;
using suiteclient::SuiteServer;

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

TEST(SuiteServerClients, TwoInstancesOfOneConsoleAreTwoClientsAndIdentityIsTheSystems) {
    SuiteServerHarness harness;
    harness.StartServer();
    auto a = CreateOrFail(harness.Factory());
    auto b = CreateOrFail(harness.Factory());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->ConnectClient("ClientName").value_or(0), 1);
    EXPECT_EQ(b->ConnectClient("ClientName").value_or(0), 2);
    EXPECT_EQ(a->GetClientCount().value_or(0), 2);
    a->DisconnectClient();
    EXPECT_EQ(b->GetClientCount().value_or(0), 1);

    EXPECT_EQ(a->GetServerVersion().value_or(""), platform::ProgramVersionInfo().releaseMarker);
    EXPECT_EQ(a->GetPlatformId().value_or(0), 2);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(a->GetServerName().value_or(""), host);
    EXPECT_GT(a->GetOSMajorVersion().value_or(0), 0);
    EXPECT_TRUE(a->GetOSMinorVersion());
    EXPECT_TRUE(a->GetOSBuild());
    EXPECT_GE(a->GetServerTime().value_or({}).year, 2024);

    EXPECT_EQ(a->GetActiveSet().value_or(""), "No Active Set");
    harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Corvane", "ActiveSet", "Studio A");
    EXPECT_EQ(a->GetActiveSet().value_or(""), "Studio A");
}

TEST(SuiteServerClients, KilledClientLosesItsRegistrationWithinFiveSeconds) {
    SuiteServerHarness harness;
    harness.StartServer();
    auto observer = CreateOrFail(harness.Factory());
    ASSERT_TRUE(observer);
    observer->ConnectClient("ClientName");

    // A second console in a process of its own.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::string probe = BinDir() + "/suite_probe";
    std::string rootVar = "ORVEL_ROOT=" + harness.root;
    char* argv[] = {probe.data(), const_cast<char*>("hold"), nullptr};
    char* envp[] = {rootVar.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, probe.c_str(), &actions, nullptr, argv, envp), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    char line[64] = {};
    ASSERT_GT(read(pipeFds[0], line, sizeof line - 1), 0);
    close(pipeFds[0]);
    EXPECT_STREQ(line, "registered 2\n");
    EXPECT_EQ(observer->GetClientCount().value_or(0), 2);

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (observer->GetClientCount().value_or(0) != 1 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(observer->GetClientCount().value_or(0), 1) << harness.ServerLog();
    EXPECT_THAT(harness.ServerLog(), ::testing::HasSubstr("event stream broken"));
}

TEST(SuiteServerComponents, StartStopAndExitRaiseChangeEventsOnEveryInstance) {
    SuiteServerHarness harness;
    std::string program = harness.InstallComponent(5);
    harness.StartServer();
    auto a = CreateOrFail(harness.Factory());
    auto b = CreateOrFail(harness.Factory());
    ASSERT_TRUE(a && b);
    Received onA;
    Received onB;
    a->SetEventHandlers(onA.Handlers());
    b->SetEventHandlers(onB.Handlers());

    ASSERT_EQ(a->StartComponent(5).value_or(0), 1);
    EXPECT_TRUE(harness.dispatcher.RunUntil(
        [&] { return onA.changes.size() == 1 && onB.changes.size() == 1; }, 1s));
    EXPECT_EQ(onA.changes, std::vector<int>{5});

    a->StopComponent(5);
    EXPECT_TRUE(harness.dispatcher.RunUntil([&] { return onA.changes.size() == 2; }, 1s));
    EXPECT_EQ(a->GetComponentStatus(5).value_or(99), 0);
    EXPECT_TRUE(ProcessesRunning(program).empty());

    // A component that ends by itself is noticed at once.
    ASSERT_EQ(b->StartComponent(5).value_or(0), 1);
    ASSERT_TRUE(harness.dispatcher.RunUntil([&] { return onB.changes.size() == 3; }, 1s));
    auto running = ProcessesRunning(program);
    ASSERT_EQ(running.size(), 1u);
    kill(running[0], SIGKILL);
    EXPECT_TRUE(harness.dispatcher.RunUntil([&] { return onB.changes.size() == 4; }, 1s));
    EXPECT_EQ(b->GetComponentStatus(5).value_or(99), 0);
    EXPECT_TRUE(ZombieChildren(harness.serverPid).empty());
    EXPECT_THAT(harness.ServerLog(), ::testing::HasSubstr("(signal 9)"));
}

// Polls until done() or the limit passes; done()'s last answer.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(SuiteServerComponents, StoppedComponentLeavesNothingBehind) {
    SuiteServerHarness harness;
    // A program of our own, so that only this component's processes run it.
    std::string helper = harness.suiteFolder + "/orvel-helper";
    std::filesystem::copy_file("/bin/sleep", helper);
    std::string script = harness.suiteFolder + "/JournalServer.exe";
    // A helper that ignores the request to end, and one that left the group.
    std::ofstream(script) << "#!/bin/sh\n"
                          << "sh -c \"trap '' TERM; exec " << helper << " 600\" &\n"
                          << "setsid sh -c \"trap '' TERM; exec " << helper << " 601\" &\n"
                          << "exec " << helper << " 602\n";
    chmod(script.c_str(), 0755);
    harness.RegisterComponent(12, script);
    harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "StopGraceMs", 300);
    harness.StartServer();
    auto server = CreateOrFail(harness.Factory());
    ASSERT_TRUE(server);

    for (bool serverStops : {false, true}) {
        ASSERT_EQ(server->StartComponent(12).value_or(0), 1);
        ASSERT_TRUE(WaitFor([&] { return ProcessesRunning(helper).size() == 3; }, 5s));
        if (serverStops) {
            harness.StopServer();
        } else {
            server->StopComponent(12);
        }
        EXPECT_TRUE(WaitFor([&] { return ProcessesRunning(helper).empty(); }, 5s))
            << harness.ServerLog();
        if (!serverStops) {
            EXPECT_EQ(server->GetComponentStatus(12).value_or(99), 0);
            EXPECT_TRUE(WaitFor([&] { return ZombieChildren(harness.serverPid).empty(); }, 3s));
            EXPECT_TRUE(WaitFor(
                [&] {
                    return harness.ServerLog().find("has ended completely") != std::string::npos;
                },
                3s));
        }
    }
    EXPECT_THAT(harness.ServerLog(), ::testing::HasSubstr("did not end in time; killed"));
}

std::string BootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

TEST(SuiteServerAdoption, ComponentsOutliveAKilledServerAndAreAdoptedNotDuplicated) {
    SuiteServerHarness harness;
    std::string deviceControl = harness.InstallComponent(0);
    std::string matrixStatus = harness.InstallComponent(5);
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

    harness.KillServer();
    EXPECT_EQ(ProcessesRunning(deviceControl), running0);
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
    EXPECT_THAT(harness.ServerLog(), ::testing::HasSubstr("adopted"));

    // An adopted component is watched and stopped as one the server started.
    server->StopComponent(0);
    EXPECT_TRUE(harness.dispatcher.RunUntil([&] { return !events.changes.empty(); }, 5s))
        << harness.ServerLog();
    EXPECT_EQ(server->GetComponentStatus(0).value_or(99), 0);
    EXPECT_TRUE(ProcessesRunning(deviceControl).empty());
    harness.StopServer();
    EXPECT_TRUE(ProcessesRunning(matrixStatus).empty()) << harness.ServerLog();
}

TEST(SuiteServerAdoption, RecordedProcessThatIsNotTheComponentIsNotAdopted) {
    SuiteServerHarness harness;
    std::string deviceControl = harness.InstallComponent(0);
    std::string matrixStatus = harness.InstallComponent(5);
    std::string panelKeys = harness.InstallComponent(15);
    // An unrelated process that now holds the recorded process ids.
    pid_t unrelated = 0;
    char sleepArg[] = "sleep";
    char seconds[] = "30";
    char* sleepArgv[] = {sleepArg, seconds, nullptr};
    ASSERT_EQ(posix_spawn(&unrelated, "/bin/sleep", nullptr, nullptr, sleepArgv, environ), 0);
    auto entry = suiteserver::ReadProcEntry(unrelated);
    ASSERT_TRUE(entry);
    std::vector<suiteserver::ComponentRecord> records = {
        {0, {unrelated, entry->startTime}, deviceControl},      // another program
        {5, {unrelated, entry->startTime + 1}, matrixStatus}};  // another process
    // As root: the recorded program runs, but as another user.
    pid_t foreign = 0;
    if (geteuid() == 0) {
        chmod(harness.root.c_str(), 0755);
        chmod(harness.suiteFolder.c_str(), 0755);
        foreign = fork();
        if (foreign == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
            char* argv[] = {panelKeys.data(), nullptr};
            execv(panelKeys.c_str(), argv);
            _exit(4);
        }
        ASSERT_TRUE(WaitFor([&] { return ProcessesRunning(panelKeys).size() == 1; }, 5s));
        records.push_back(
            {15, {foreign, suiteserver::ReadProcEntry(foreign)->startTime}, panelKeys});
    }
    std::filesystem::create_directories(harness.root + "/run");
    std::ofstream(harness.root + "/run/components.state")
        << suiteserver::FormatComponentRecords(records, BootId());

    harness.StartServer();
    auto server = CreateOrFail(harness.Factory());
    ASSERT_TRUE(server);
    EXPECT_EQ(server->GetComponentStatus(0).value_or(99), 0);
    EXPECT_EQ(server->GetComponentStatus(5).value_or(99), 0);
    std::string log = harness.ServerLog();
    EXPECT_THAT(log, ::testing::HasSubstr("dropped: the process runs another program"));
    EXPECT_THAT(log,
                ::testing::HasSubstr("dropped: its process id now belongs to another process"));
    if (foreign > 0) {
        EXPECT_EQ(server->GetComponentStatus(15).value_or(99), 0);
        EXPECT_THAT(log, ::testing::HasSubstr("dropped: the process belongs to another user"));
    }
    // The slot starts its own program; the unrelated processes are left alone.
    EXPECT_EQ(server->StartComponent(0).value_or(99), 1);
    auto started = ProcessesRunning(deviceControl);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_NE(started[0], unrelated);
    server.reset();
    harness.StopServer();
    EXPECT_EQ(waitpid(unrelated, nullptr, WNOHANG), 0);
    kill(unrelated, SIGKILL);
    waitpid(unrelated, nullptr, 0);
    if (foreign > 0) {
        EXPECT_EQ(waitpid(foreign, nullptr, WNOHANG), 0);
        kill(foreign, SIGKILL);
        waitpid(foreign, nullptr, 0);
    }
}

TEST(SuiteServerErrors, RefusedCreationCallsOnNoneAndBadArguments) {
    SuiteServerHarness harness;
    // Nothing listens yet.
    auto none = harness.Factory().CreateLocal();
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().number, 429);
    EXPECT_EQ(none.error().description, "ActiveX component can't create object");

    harness.StartServer();
    auto server = CreateOrFail(harness.Factory());
    ASSERT_TRUE(server);
    for (std::int16_t bad : {std::int16_t{-1}, std::int16_t{20}, std::int16_t{32767}}) {
        EXPECT_EQ(server->GetComponentStatus(bad).error().number, 5);
        EXPECT_EQ(server->StartComponent(bad).error().number, 5);
        EXPECT_EQ(server->StopComponent(bad).error().number, 5);
        EXPECT_EQ(server->GetComponentName(bad).error().number, 5);
    }
    // An oversized message is refused; the server and the instance live on.
    EXPECT_EQ(server->ConnectClient(std::string(100000, 'x')).error().number, 5);
    EXPECT_EQ(server->ConnectClient(std::string(5000, 'x')).error().number, 5);
    EXPECT_EQ(server->ConnectClient("ClientName").value_or(0), 1);

    // A flood of instances from one peer is capped.
    std::vector<std::shared_ptr<SuiteServer>> flood;
    int refused = 0;
    for (int i = 0; i < 40; ++i) {
        auto more = harness.Factory().CreateLocal();
        if (more) {
            flood.push_back(*more);
        } else {
            EXPECT_EQ(more.error().number, 429);
            ++refused;
        }
    }
    EXPECT_GT(refused, 0);
    flood.clear();
    EXPECT_EQ(server->GetClientCount().value_or(0), 1);
    EXPECT_TRUE(harness.Factory().CreateLocal());
}

TEST(SuiteServerErrors, ASocketThisUserMayNotUseIsPermissionDenied) {
    SuiteServerHarness harness;
    harness.StartServer();
    // As root, the probe runs as an unprivileged user; otherwise the socket is
    // closed to its owner.
    bool asRoot = geteuid() == 0;
    if (asRoot) {
        chmod(harness.root.c_str(), 0755);
    } else {
        chmod(harness.socketPath.c_str(), 0);
    }
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        if (asRoot && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        std::string probe = BinDir() + "/suite_probe";
        std::string rootVar = "ORVEL_ROOT=" + harness.root;
        char* argv[] = {probe.data(), const_cast<char*>("create"), nullptr};
        char* envp[] = {rootVar.data(), nullptr};
        execve(probe.c_str(), argv, envp);
        _exit(4);
    }
    close(pipeFds[1]);
    char line[32] = {};
    read(pipeFds[0], line, sizeof line - 1);
    close(pipeFds[0]);
    waitpid(pid, nullptr, 0);
    EXPECT_STREQ(line, "70\n");
}

TEST(SuiteServerErrors, StoppedServerCostsOneDeadlineThenTheInstanceIsLost) {
    SuiteServerHarness harness;
    harness.StartServer();
    auto factory = harness.MakeFactory(FreeTcpPort(), 400ms);
    auto created = factory->CreateLocal();
    ASSERT_TRUE(created);
    auto server = *created;
    ASSERT_TRUE(server->GetClientCount());

    StopProcess(harness.serverPid);
    auto before = std::chrono::steady_clock::now();
    auto first = server->GetClientCount();
    auto firstTook = std::chrono::steady_clock::now() - before;
    ASSERT_FALSE(first);
    EXPECT_EQ(first.error().number, 462);
    EXPECT_EQ(first.error().description,
              "The remote server machine does not exist or is unavailable");
    EXPECT_GE(firstTook, 400ms);

    // Every later call fails at once, even after the server goes on.
    kill(harness.serverPid, SIGCONT);
    before = std::chrono::steady_clock::now();
    EXPECT_EQ(server->GetComponentStatus(0).error().number, 462);
    EXPECT_EQ(server->ConnectClient("ClientName").error().number, 462);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 200ms);

    // A new instance opens a fresh channel.
    auto fresh = factory->CreateLocal();
    ASSERT_TRUE(fresh);
    EXPECT_TRUE((*fresh)->GetClientCount());
}

TEST(SuiteServerErrors, ServerThatEndsLosesTheInstance) {
    SuiteServerHarness harness;
    harness.StartServer();
    auto server = CreateOrFail(harness.Factory());
    ASSERT_TRUE(server);
    harness.StopServer();
    EXPECT_EQ(server->GetClientCount().error().number, 462);
    EXPECT_EQ(harness.Factory().CreateLocal().error().number, 429);
}

TEST(SuiteServerRemote, TcpIsClosedUnlessBothDcomValuesAllowRemoteUse) {
    SuiteServerHarness harness;
    std::uint16_t port = FreeTcpPort();
    harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "TcpPort", port);
    harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableDCOM", "Y");
    harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableRemoteConnect", "N");
    harness.SetUpTls();
    harness.StartServer();
    auto factory = harness.MakeFactory(port, 1500ms);
    auto refused = factory->CreateRemote("\\\\127.0.0.1");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().number, 429);
    EXPECT_EQ(factory->CreateRemote("no such name!").error().number, 429);
    harness.StopServer();

    // Read once at start, upper-cased.
    harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableRemoteConnect", "y");
    harness.StartServer();
    auto remote = factory->CreateRemote("127.0.0.1");
    ASSERT_TRUE(remote) << harness.ServerLog() << harness.lastProblem;
    EXPECT_EQ((*remote)->ConnectClient("ClientName").value_or(0), 1);
    auto local = CreateOrFail(*factory);
    ASSERT_TRUE(local);
    EXPECT_EQ(local->ConnectClient("ClientName").value_or(0), 2);
    // Only the local socket may send operator messages.
    EXPECT_THAT(harness.ServerLog(), ::testing::HasSubstr("and TCP port " + std::to_string(port)));
}

TEST(SuiteServerEvents, OperatorMessagesReachEveryInstanceAndReleasedOnesStop) {
    SuiteServerHarness harness;
    harness.InstallComponent(0);
    harness.StartServer();
    auto kept = CreateOrFail(harness.Factory());
    auto released = CreateOrFail(harness.Factory());
    ASSERT_TRUE(kept && released);
    Received onKept;
    int releasedCalls = 0;
    kept->SetEventHandlers(onKept.Handlers());
    released->SetEventHandlers(
        {[&](std::int16_t) { ++releasedCalls; },
         [&](std::int16_t, std::int16_t, const std::string&) { ++releasedCalls; }});

    int exitCode = -1;
    harness.RunProgram({"Orvel_Server", "--message", "Backup running\rPlease wait"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    // A standing message comes again and again until it is withdrawn.
    ASSERT_TRUE(harness.dispatcher.RunUntil(
        [&] { return onKept.messages.size() >= 3 && releasedCalls >= 3; }, 2s));
    EXPECT_EQ(onKept.messages[0], "0,-1,Backup running\rPlease wait");
    EXPECT_EQ(onKept.messages[2], onKept.messages[0]);
    harness.RunProgram({"Orvel_Server", "--clear-message"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(harness.dispatcher.RunUntil(
        [&] { return !onKept.messages.empty() && onKept.messages.back() == "0,0,"; }, 1s));
    std::size_t afterClear = onKept.messages.size();
    harness.dispatcher.RunUntil([] { return false; }, 600ms);
    EXPECT_EQ(onKept.messages.size(), afterClear);
    int releasedSoFar = releasedCalls;

    // Events already on their way to the UI thread are not delivered once the
    // reference is released.
    kept->StartComponent(0);
    released.reset();
    ASSERT_TRUE(harness.dispatcher.RunUntil([&] { return onKept.changes.size() == 1; }, 1s));
    harness.dispatcher.RunPending();
    EXPECT_EQ(releasedCalls, releasedSoFar);
}

TEST(SuiteServerProgram, RegistrationUsageAndDamagedStore) {
    SuiteServerHarness harness;
    int exitCode = -1;
    harness.RunProgram({"Orvel_Server", "--regserver"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    harness.RunProgram({"Orvel_Server", "--regserver"}, &exitCode);  // again: no change, no error
    EXPECT_EQ(exitCode, 0);
    auto& registry = harness.Registry();
    EXPECT_EQ(suite::ReadStringValue(registry, platform::HKEY_CLASSES_ROOT,
                                     "Orvel_Server.clsOrvel_Server\\Clsid", ""),
              std::string(suite::kSuiteServerClassId));
    EXPECT_EQ(suite::ReadStringValue(
                  registry, platform::HKEY_CLASSES_ROOT,
                  "CLSID\\" + std::string(suite::kSuiteServerClassId) + "\\LocalServer32", ""),
              std::filesystem::canonical(BinDir() + "/Orvel_Server").string());
    EXPECT_EQ(suite::ReadStringValue(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole",
                                     "EnableRemoteConnect"),
              "N");
    harness.RunProgram({"Orvel_Server", "--unregserver"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(suite::ReadStringValue(registry, platform::HKEY_CLASSES_ROOT,
                                        "Orvel_Server.clsOrvel_Server\\Clsid", ""));

    auto usage = harness.RunProgram({"Orvel_Server", "--help"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_THAT(usage, ::testing::HasSubstr("--regserver"));
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
    EXPECT_THAT(harness.ServerLog(), ::testing::HasSubstr("registry store problem"));
}

}  // namespace
}  // namespace orvel::testing
