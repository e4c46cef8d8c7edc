// Suite server round trips, measured in one run against a real Orvel_Server
// that this program starts on a temporary installation root.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "SuiteServerHarness.h"
#include "suite/ComponentCatalog.h"

namespace {

using namespace std::chrono_literals;

// The server, its installation and one client of each kind, for the whole run.
struct Installation {
    orvel::testing::SuiteServerHarness harness;
    std::string component;
    std::shared_ptr<orvel::suiteclient::SuiteServer> local;
    std::shared_ptr<orvel::suiteclient::SuiteServer> remote;

    Installation() {
        using orvel::platform::HKEY_LOCAL_MACHINE;
        component = harness.InstallComponent(0);
        harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableDCOM", "Y");
        harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableRemoteConnect",
                          "Y");
        const std::uint16_t port = orvel::testing::FreeTcpPort();
        harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "TcpPort", port);
        harness.StartServer();
        factory = harness.MakeFactory(port, 2s);
        if (auto created = factory->CreateLocal()) local = *created;
        if (auto created = factory->CreateRemote("127.0.0.1")) remote = *created;
    }
    ~Installation() {
        local.reset();
        remote.reset();
    }

    std::unique_ptr<orvel::suiteclient::GrpcSuiteServerFactory> factory;
};

Installation& Shared() {
    static Installation installation;  // one server for the whole benchmark run
    return installation;
}

void BM_UnixSocketRoundTripFloor(benchmark::State& state) {
    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    std::thread echo([fd = fds[1]] {
        char buffer[64];
        ssize_t n = 0;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) {
            if (write(fd, buffer, static_cast<std::size_t>(n)) != n) break;
        }
    });
    char message[32] = "GetComponentStatus 0";
    char reply[32];
    for (auto _ : state) {
        if (write(fds[0], message, sizeof message) != sizeof message) break;
        std::size_t got = 0;
        while (got < sizeof reply) {
            ssize_t n = read(fds[0], reply + got, sizeof reply - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        benchmark::DoNotOptimize(reply);
    }
    shutdown(fds[0], SHUT_RDWR);
    echo.join();
    close(fds[0]);
    close(fds[1]);
}
BENCHMARK(BM_UnixSocketRoundTripFloor);

void BM_GetComponentStatusUnix(benchmark::State& state) {
    auto& server = Shared().local;
    if (!server) return state.SkipWithError("no local instance");
    for (auto _ : state) benchmark::DoNotOptimize(server->GetComponentStatus(0));
}
BENCHMARK(BM_GetComponentStatusUnix);

void BM_GetComponentStatusTcpLoopback(benchmark::State& state) {
    auto& server = Shared().remote;
    if (!server) return state.SkipWithError("no remote instance");
    for (auto _ : state) benchmark::DoNotOptimize(server->GetComponentStatus(0));
}
BENCHMARK(BM_GetComponentStatusTcpLoopback);

void BM_TwentyNameAndStatusPairsUnix(benchmark::State& state) {
    auto& server = Shared().local;
    if (!server) return state.SkipWithError("no local instance");
    for (auto _ : state) {
        for (std::int16_t i = 0; i < orvel::suite::kComponentSlots; ++i) {
            benchmark::DoNotOptimize(server->GetComponentName(i));
            benchmark::DoNotOptimize(server->GetComponentStatus(i));
        }
    }
}
BENCHMARK(BM_TwentyNameAndStatusPairsUnix);

// From the component's end (SIGKILL) to the console's change handler.
void BM_ComponentExitToEventHandler(benchmark::State& state) {
    auto& installation = Shared();
    auto& server = installation.local;
    if (!server) return state.SkipWithError("no local instance");
    int changes = 0;
    server->SetEventHandlers({[&](std::int16_t) { ++changes; }, {}});
    for (auto _ : state) {
        changes = 0;
        server->StartComponent(0);
        installation.harness.dispatcher.RunUntil([&] { return changes >= 1; }, 2s);
        const auto running = orvel::testing::ProcessesRunning(installation.component);
        const pid_t pid = running.empty() ? 0 : running.front();
        if (pid <= 0) return state.SkipWithError("component not found");
        auto start = std::chrono::steady_clock::now();
        kill(pid, SIGKILL);
        installation.harness.dispatcher.RunUntil([&] { return changes >= 2; }, 2s);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    server->SetEventHandlers({});
}
BENCHMARK(BM_ComponentExitToEventHandler)->UseManualTime()->Iterations(30);

}  // namespace

BENCHMARK_MAIN();
