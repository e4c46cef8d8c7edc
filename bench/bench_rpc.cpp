// Suite server round trips, measured in one run against a real Orvel_Server
// that this program starts on a temporary installation root. Each round trip
// runs twice: idle (loaded:0) and beside two threads of this program that
// keep both cores busy (loaded:1). Counters: x_floor, the wall time of a call
// against its floor in the same load (the bare unix socket for the unix
// calls, plain-text TCP for TLS); vcsw_per_call, the voluntary context
// switches of client and server together per call, from /proc, and
// vcsw_server, the server's share of them.

#include <benchmark/benchmark.h>
#include <grpcpp/grpcpp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "LoopbackClients.h"
#include "SuiteServerHarness.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/SystemClock.h"
#include "suite/ComponentCatalog.h"
#include "suite_server.grpc.pb.h"
#include "suiteclient/RpcRuntime.h"
#include "suiteserver/ComponentRecords.h"
#include "suiteserver/ProcessLauncher.h"
#include "suiteserver/SuiteRpcService.h"

namespace {

using namespace std::chrono_literals;

// The server, its installation and one client of each kind, for the whole run.
struct Installation {
    orvel::testing::SuiteServerHarness harness;
    std::string component;
    // The console's instance on the local socket, for the whole run. A remote
    // one is made where it is measured: each instance a console holds has a
    // thread waiting for its events, and that thread takes its turn at
    // polling for the calls of every other instance.
    std::shared_ptr<orvel::suiteclient::SuiteServer> local;

    Installation() {
        using orvel::platform::HKEY_LOCAL_MACHINE;
        component = harness.InstallComponent(0);
        harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableDCOM", "Y");
        harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableRemoteConnect",
                          "Y");
        const std::uint16_t port = orvel::testing::FreeTcpPort();
        harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "TcpPort", port);
        harness.SetUpTls();
        harness.StartServer();
        target = "127.0.0.1:" + std::to_string(port);
        factory = harness.MakeFactory(port, 2s);
        if (auto created = factory->CreateLocal()) local = *created;
    }
    ~Installation() { local.reset(); }

    std::unique_ptr<orvel::suiteclient::GrpcSuiteServerFactory> factory;
    std::string target;  // the server's TLS port on loopback
};

// Two threads that spin while a loaded benchmark runs.
class BusyLoad {
  public:
    explicit BusyLoad(bool on) {
        if (!on) return;
        for (int i = 0; i < 2; ++i) {
            threads_.emplace_back([this] {
                std::uint64_t spin = 0;
                while (!stop_.load(std::memory_order_relaxed)) benchmark::DoNotOptimize(++spin);
            });
        }
    }
    ~BusyLoad() {
        stop_ = true;
        for (auto& thread : threads_) thread.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// Voluntary context switches of every thread of the process.
long VoluntarySwitches(pid_t pid) {
    long total = 0;
    std::error_code error;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                total += std::atol(line.c_str() + std::strlen("voluntary_ctxt_switches:"));
            }
        }
    }
    return total;
}

// Wall time per call and switches per call over one benchmark's loop.
class CallMeter {
  public:
    explicit CallMeter(pid_t server) : server_(server) {
        clientSwitches_ = VoluntarySwitches(getpid());
        serverSwitches_ = ServerSwitches();
        start_ = std::chrono::steady_clock::now();
    }
    // Sets the counters; the wall time of one call in seconds.
    double Report(benchmark::State& state, std::int64_t callsPerIteration = 1) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const double calls = static_cast<double>(state.iterations() * callsPerIteration);
        if (calls <= 0) return 0;
        const long client = VoluntarySwitches(getpid()) - clientSwitches_;
        const long server = ServerSwitches() - serverSwitches_;
        state.counters["vcsw_per_call"] = static_cast<double>(client + server) / calls;
        if (server_ > 0) state.counters["vcsw_server"] = static_cast<double>(server) / calls;
        return seconds / calls;
    }

  private:
    long ServerSwitches() const { return server_ > 0 ? VoluntarySwitches(server_) : 0; }
    pid_t server_;
    long clientSwitches_ = 0;
    long serverSwitches_ = 0;
    std::chrono::steady_clock::time_point start_;
};

// Floors of this run, idle and loaded, seconds per round trip.
double unixFloor[2] = {0, 0};
double plainTcpFloor[2] = {0, 0};

void AgainstFloor(benchmark::State& state, double perCall, const double floor[2]) {
    const auto loaded = static_cast<std::size_t>(state.range(0));
    if (floor[loaded] > 0) state.counters["x_floor"] = perCall / floor[loaded];
}

// The console's TLS credentials as orvel-cert made them for the installation.
std::shared_ptr<grpc::ChannelCredentials> ConsoleCredentials(const std::string& root) {
    return orvel::testing::BundleCredentials(root + "/tls/console");
}

// The same core in this process behind plain-text TCP on loopback, with the
// two calls the measurement needs and no caller checks: the floor the TLS
// transport is measured against (the real server has no plain-text TCP).
class FloorService final : public orvel::rpc::SuiteServer::Service {
  public:
    explicit FloorService(orvel::suiteserver::SuiteServerCore& core) : core_(core) {}
    grpc::Status CreateInstance(grpc::ServerContext*, const orvel::rpc::CreateInstanceRequest*,
                                orvel::rpc::InstanceRef* reply) override {
        auto answer = core_.CreateInstance("floor", "bench_rpc");
        if (!answer.ok()) return orvel::suiteserver::RefusalStatus(answer.error());
        const orvel::suiteserver::InstanceId id = answer.value();
        reply->set_instance(std::string(reinterpret_cast<const char*>(&id), sizeof id));
        return grpc::Status::OK;
    }
    grpc::Status GetComponentStatus(grpc::ServerContext*, const orvel::rpc::IndexRequest* request,
                                    orvel::rpc::Int32Reply* reply) override {
        orvel::suiteserver::InstanceId id = 0;
        std::memcpy(&id, request->instance().data(),
                    std::min(sizeof id, request->instance().size()));
        auto answer = core_.GetComponentStatus(id, request->index());
        if (!answer.ok()) return orvel::suiteserver::RefusalStatus(answer.error());
        reply->set_value(answer.value());
        return grpc::Status::OK;
    }

  private:
    orvel::suiteserver::SuiteServerCore& core_;
};

// The floor server starts no component. The real launcher would, on its way
// out, also end every other child of this process: the harness's server.
struct NoLauncher : orvel::suiteserver::ProcessLauncher {
    using Identity = orvel::suiteserver::ProcessIdentity;
    using Verdict = orvel::suiteserver::AdoptVerdict;
    orvel::suiteserver::LaunchResult Launch(const std::string&, const std::vector<std::string>&,
                                            const orvel::suiteserver::OutputLabel&,
                                            orvel::suiteserver::ExitHandler) override {
        return {0, 0, "the floor server starts no component", {}};
    }
    std::vector<orvel::suiteserver::MarkedProcess> FindMarked(std::string_view,
                                                              std::string_view) override {
        return {};
    }
    void EndOrphan(Identity) override {}
    Verdict Adopt(Identity, const std::string&, orvel::suiteserver::ExitHandler) override {
        return Verdict::kGone;
    }
    void Signal(pid_t, int) override {}
    bool Remains(pid_t) override { return false; }
    void Forget(pid_t) override {}
    void StopWatching() override {}
    void EndStrays() override {}
};

orvel::suiteserver::CoreOptions FloorOptions() {
    orvel::suiteserver::CoreOptions options;
    options.unattachedLimit = std::chrono::hours(1);  // its instances have no event stream
    return options;
}

struct PlainTcpServer {
    orvel::platform::SqliteRegistry registry;
    NoLauncher launcher;
    orvel::suiteserver::ComponentStateFile records;
    orvel::platform::SystemClock clock;
    orvel::platform::LinuxSystemInfo systemInfo;
    orvel::suiteserver::StderrLog log;
    orvel::suiteserver::SuiteServerCore core;
    FloorService service;
    std::unique_ptr<grpc::Server> server;
    std::string target;

    explicit PlainTcpServer(const std::string& root)
        : registry(root + "/plain.db"),
          records(root + "/plain-components.state"),
          core(registry, launcher, records, clock, systemInfo, log, FloorOptions()),
          service(core) {
        grpc::ServerBuilder builder;
        int port = 0;
        builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
        builder.RegisterService(&service);
        server = builder.BuildAndStart();
        target = "127.0.0.1:" + std::to_string(port);
    }
    ~PlainTcpServer() {
        core.CloseAllInstances();
        server->Shutdown(std::chrono::system_clock::now() + 1s);
    }
};

grpc::Status CreateOn(orvel::rpc::SuiteServer::Stub& stub, std::string* handle) {
    return orvel::testing::CreateInstanceOn(stub, "bench_rpc", 2s, handle);
}

// GetComponentStatus on one connection; the instance holds its event stream
// when the server has one (the real server releases an instance without one).
double StatusLoop(benchmark::State& state, orvel::rpc::SuiteServer::Stub& stub, pid_t server,
                  bool withEvents) {
    std::string handle;
    if (!CreateOn(stub, &handle).ok()) {
        state.SkipWithError("no instance");
        return 0;
    }
    orvel::rpc::InstanceRef ref;
    ref.set_instance(handle);
    grpc::ClientContext eventsContext;
    std::unique_ptr<grpc::ClientReader<orvel::rpc::ServerEvent>> events;
    if (withEvents) {
        events = stub.Events(&eventsContext, ref);
        events->WaitForInitialMetadata();
    }
    orvel::rpc::IndexRequest request;
    request.set_instance(handle);
    request.set_index(0);
    orvel::rpc::Int32Reply reply;
    BusyLoad load(state.range(0) != 0);
    CallMeter meter(server);
    for (auto _ : state) {
        grpc::ClientContext context;
        if (!stub.GetComponentStatus(&context, request, &reply).ok()) {
            state.SkipWithError("call failed");
            break;
        }
        benchmark::DoNotOptimize(reply);
    }
    const double perCall = meter.Report(state);
    grpc::ClientContext context;
    orvel::rpc::Empty empty;
    stub.ReleaseInstance(&context, ref, &empty);
    if (events) {
        eventsContext.TryCancel();
        events->Finish();
    }
    return perCall;
}

Installation& Shared();

// As the console's instance does it (a thread waiting in its event stream),
// but with the stream on a connection of its own: what a call costs when the
// thread waiting for events never reads a reply.
void BM_GetComponentStatusUnixEventsApart(benchmark::State& state) {
    auto& installation = Shared();
    const std::string target = "unix:" + installation.harness.socketPath;
    auto calls = orvel::testing::StubFor(target, grpc::InsecureChannelCredentials());
    auto events = orvel::testing::StubFor(target, grpc::InsecureChannelCredentials());
    std::string handle;
    if (!CreateOn(*calls, &handle).ok()) return state.SkipWithError("no instance");
    orvel::rpc::InstanceRef ref;
    ref.set_instance(handle);
    grpc::ClientContext eventsContext;
    auto reader = events->Events(&eventsContext, ref);
    reader->WaitForInitialMetadata();
    std::thread waiting([&reader] {
        orvel::rpc::ServerEvent event;
        while (reader->Read(&event)) {
        }
    });
    orvel::rpc::IndexRequest request;
    request.set_instance(handle);
    request.set_index(0);
    orvel::rpc::Int32Reply reply;
    {
        BusyLoad load(state.range(0) != 0);
        CallMeter meter(installation.harness.serverPid);
        for (auto _ : state) {
            grpc::ClientContext context;
            context.set_deadline(std::chrono::system_clock::now() + 2s);
            if (!calls->GetComponentStatus(&context, request, &reply).ok()) {
                state.SkipWithError("call failed");
                break;
            }
            benchmark::DoNotOptimize(reply);
        }
        AgainstFloor(state, meter.Report(state), unixFloor);
    }
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + 2s);
    orvel::rpc::Empty empty;
    calls->ReleaseInstance(&context, ref, &empty);
    eventsContext.TryCancel();
    waiting.join();
    reader->Finish();
}

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
    BusyLoad load(state.range(0) != 0);
    CallMeter meter(0);
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
    unixFloor[state.range(0)] = meter.Report(state);
    shutdown(fds[0], SHUT_RDWR);
    echo.join();
    close(fds[0]);
    close(fds[1]);
}
BENCHMARK(BM_UnixSocketRoundTripFloor)->ArgName("loaded")->Arg(0)->Arg(1);

// Runs calls on the console's local instance, idle or loaded as the
// benchmark's argument says; the wall time of one of the calls.
template <typename Calls>
double MeasureOnLocal(benchmark::State& state, std::int64_t callsPerIteration, Calls calls) {
    auto& installation = Shared();
    auto& server = installation.local;
    if (!server) {
        state.SkipWithError("no local instance");
        return 0;
    }
    BusyLoad load(state.range(0) != 0);
    CallMeter meter(installation.harness.serverPid);
    for (auto _ : state) calls(*server);
    return meter.Report(state, callsPerIteration);
}

// Through the console's client, as the console calls.
void BM_GetComponentStatusUnix(benchmark::State& state) {
    const double perCall = MeasureOnLocal(state, 1, [](orvel::suiteclient::SuiteServer& server) {
        benchmark::DoNotOptimize(server.GetComponentStatus(0));
    });
    AgainstFloor(state, perCall, unixFloor);
}
BENCHMARK(BM_GetComponentStatusUnix)->ArgName("loaded")->Arg(0)->Arg(1);
BENCHMARK(BM_GetComponentStatusUnixEventsApart)->ArgName("loaded")->Arg(0)->Arg(1);

void BM_GetComponentStatusTcpLoopback(benchmark::State& state) {
    auto& installation = Shared();
    auto created = installation.factory->CreateRemote("127.0.0.1");
    if (!created) return state.SkipWithError("no remote instance");
    auto& server = *created;
    BusyLoad load(state.range(0) != 0);
    CallMeter meter(installation.harness.serverPid);
    for (auto _ : state) benchmark::DoNotOptimize(server->GetComponentStatus(0));
    meter.Report(state);
}
BENCHMARK(BM_GetComponentStatusTcpLoopback)->ArgName("loaded")->Arg(0)->Arg(1);

// GetComponentStatus on one connection: plain-text TCP (the floor), then TLS.
void BM_GetComponentStatusPlainTcpFloor(benchmark::State& state) {
    PlainTcpServer plain(Shared().harness.root);
    auto stub = orvel::testing::StubFor(plain.target, grpc::InsecureChannelCredentials());
    plainTcpFloor[state.range(0)] = StatusLoop(state, *stub, 0, false);
}
BENCHMARK(BM_GetComponentStatusPlainTcpFloor)->ArgName("loaded")->Arg(0)->Arg(1);

void BM_GetComponentStatusTlsTcp(benchmark::State& state) {
    auto& installation = Shared();
    auto stub =
        orvel::testing::StubFor(installation.target, ConsoleCredentials(installation.harness.root));
    AgainstFloor(state, StatusLoop(state, *stub, installation.harness.serverPid, true),
                 plainTcpFloor);
}
BENCHMARK(BM_GetComponentStatusTlsTcp)->ArgName("loaded")->Arg(0)->Arg(1);

// A whole TLS connect: a new channel, the handshake and the first call.
void BM_TlsConnectAndFirstCall(benchmark::State& state) {
    auto& installation = Shared();
    auto credentials = ConsoleCredentials(installation.harness.root);
    for (auto _ : state) {
        auto stub = orvel::testing::StubFor(installation.target, credentials);
        std::string handle;
        if (!CreateOn(*stub, &handle).ok()) return state.SkipWithError("connect failed");
        state.PauseTiming();
        grpc::ClientContext context;
        orvel::rpc::InstanceRef ref;
        ref.set_instance(handle);
        orvel::rpc::Empty empty;
        stub->ReleaseInstance(&context, ref, &empty);
        stub.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TlsConnectAndFirstCall)->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_TwentyNameAndStatusPairsUnix(benchmark::State& state) {
    MeasureOnLocal(state, 2 * orvel::suite::kComponentSlots,
                   [](orvel::suiteclient::SuiteServer& server) {
                       for (std::int16_t i = 0; i < orvel::suite::kComponentSlots; ++i) {
                           benchmark::DoNotOptimize(server.GetComponentName(i));
                           benchmark::DoNotOptimize(server.GetComponentStatus(i));
                       }
                   });
}
BENCHMARK(BM_TwentyNameAndStatusPairsUnix)
    ->ArgName("loaded")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

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

// The console's runtime, as the console holds it; ORVEL_BENCH_GRPC_DEFAULT=1
// measures gRPC's own default engine instead.
int main(int argc, char** argv) {
    std::optional<orvel::suiteclient::RpcRuntime> runtime;
    const char* asDefault = std::getenv("ORVEL_BENCH_GRPC_DEFAULT");
    if (asDefault == nullptr || std::string(asDefault) != "1") runtime.emplace();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
