// The main window's server work against a real Orvel_Server over its unix
// socket: the full row refresh, the poll tick over its eleven-tick cycle and
// its heaviest phase (5), connected in local mode; the server killed (how
// soon the loss is shown) and started again (how soon the console is
// connected again by itself with its rows painted); and, on a real event
// loop with the server calls on the worker, the server stopped (the longest
// stall of the event loop through the loss and the quiet retries) and
// continued (how soon the console is back with its rows painted).

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <thread>

#include "ConnectedConsole.h"
#include "FakeDiagnostics.h"
#include "dcom/ServerRegistration.h"
#include "platform/IniProfileFile.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/ProcessRpcSecurity.h"
#include "platform/linux/SystemClock.h"
#include "platform/qt/QtUiDispatcher.h"
#include "startup/ConsoleWindows.h"
#include "startup/StartupSequence.h"
#include "startup/frmSplash.h"

namespace {

using namespace orvel;

// One connected console, shared by every benchmark.
using Console = bench::ConnectedConsole<fakes::FakeWindowSystem>;

Console* console = nullptr;

[[maybe_unused]] const bool refreshAndTick =
    bench::RegisterRefreshAndTick(console, "BM_RefreshServerList", "BM_PollTick");

// Phase 5: the tick that looks for unneeded components (every slot's status
// and the catalogue's windows).
void BM_PollPhaseFive(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        while (console->window->TickCounter() != 4) console->window->tmrTimer_Timer();
        state.ResumeTiming();
        console->window->tmrTimer_Timer();
    }
}
BENCHMARK(BM_PollPhaseFive)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The role registration of all twenty slots in the registry store.
void BM_ConfigureComputer(benchmark::State& state) {
    status::ComponentServerTable table;
    const std::string orvelPath = console->harness.suiteFolder + "/";
    status::FillComponentServerTable(table, orvelPath);
    settings::ConsoleSettings settings;
    settings.RemoteServerName = "SRV";
    settings::RegistryContext registry{console->harness.Registry(), console->dialogs};
    dcom::RegistrationContext context{registry, table, settings, orvelPath};
    const auto role = static_cast<std::int16_t>(state.range(0));
    for (auto _ : state) dcom::ConfigureComputer(context, role);
    dcom::ConfigureComputer(context, 0);
}
BENCHMARK(BM_ConfigureComputer)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Start-up up to the main window shown: real registry store, profile file,
// file system, clock and RPC security; scripted boxes; the splash closes at once.
void BM_StartupToMainWindow(benchmark::State& state) {
    auto& harness = console->harness;
    platform::IniProfileFile profile;
    platform::LinuxFileSystem fileSystem;
    platform::SystemClock clock;
    platform::LinuxSystemInfo systemInfo;
    platform::ProcessRpcSecurity rpcSecurity;
    fakes::FakeDiagnostics diagnostics;
    fakes::FakeDialogs dialogs;
    dialogs.AllowUnexpected(true);
    fakes::FakeInstanceLock instanceLock;
    platform::NoWindowSystem windows;
    const platform::VersionInfo version = platform::ProgramVersionInfo();
    settings::ConfigurationContext configuration{profile, fileSystem, dialogs, clock, version};
    for (auto _ : state) {
        startup::ProgramState program;
        auto windowsOfConsole = std::make_unique<startup::ConsoleWindows>(startup::ConsoleServices{
            harness.Registry(), dialogs, clock, instanceLock, systemInfo, fileSystem, profile,
            windows, harness.Factory(), version, configuration, diagnostics});
        auto hooks = windowsOfConsole->Hooks();
        hooks.showSplash = [&](startup::ProgramState&) {
            // Built and shown, then closed at once.
            startup::frmSplash splash(version, systemInfo.Version());
            splash.show();
            splash.accept();
        };
        startup::StartupSequence sequence(
            {harness.Registry(), dialogs, rpcSecurity, configuration, diagnostics}, hooks, program);
        benchmark::DoNotOptimize(sequence.Run());
        state.PauseTiming();
        windowsOfConsole.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartupToMainWindow)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// Runs the window as its timer would, with the fake clock following real
// time, until done; the time it took.
std::chrono::duration<double> PumpUntil(const std::function<bool()>& done) {
    auto& w = *console->window;
    const auto start = std::chrono::steady_clock::now();
    auto last = start;
    auto nextTick = start + std::chrono::milliseconds(500);
    while (!done() && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        console->harness.dispatcher.RunPending();
        QCoreApplication::processEvents();
        const auto now = std::chrono::steady_clock::now();
        console->clock.Advance(std::chrono::duration_cast<std::chrono::milliseconds>(now - last));
        last = now;
        if (now >= nextTick) {
            w.tmrTimer_Timer();
            nextTick += std::chrono::milliseconds(500);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::chrono::steady_clock::now() - start;
}

bool LossShown() {
    return console->window->findChild<QLabel*>("keyTimeSource")->text().endsWith(" lost");
}

bool BackWithRowsPainted() {
    auto& w = *console->window;
    return w.Connected() && w.findChild<QLabel*>("pnlServers_3")->text() == "LOCAL" &&
           w.findChild<QLabel*>("pnlServers_5")->text() == "LOCAL";
}

// Kills the server; its components run on and the restarted server adopts them.
void KillServer() {
    auto& harness = console->harness;
    kill(harness.serverPid, SIGKILL);
    waitpid(harness.serverPid, nullptr, 0);
    harness.serverPid = 0;
}

void BM_ServerKilledLossShown(benchmark::State& state) {
    for (auto _ : state) {
        PumpUntil(BackWithRowsPainted);
        const auto start = std::chrono::steady_clock::now();
        KillServer();
        PumpUntil(LossShown);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        console->harness.StartServer();
    }
}
BENCHMARK(BM_ServerKilledLossShown)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ServerBackReconnected(benchmark::State& state) {
    for (auto _ : state) {
        PumpUntil(BackWithRowsPainted);
        KillServer();
        PumpUntil(LossShown);
        console->harness.StartServer();  // returns once the socket answers
        state.SetIterationTime(PumpUntil(BackWithRowsPainted).count());
    }
}
BENCHMARK(BM_ServerBackReconnected)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// A console connected in local mode on a real event loop: its own timer, a
// running clock, the server calls on the worker and their results handed
// over as queued invocations, as Orvel_Console runs.
struct LoopConsole : bench::ConsoleInstallation {
    LoopConsole() {
        suiteclient::SuiteServerEndpoints endpoints;
        endpoints.socketPath = harness.socketPath;
        factory = std::make_unique<suiteclient::GrpcSuiteServerFactory>(endpoints, dispatcher);
        OpenWindow(clock, windows, *factory, &dispatcher);
        window->Timer()->start();
        window->cmdServerOrvelHost_Click();
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(5);
        QObject::connect(&probe, &QTimer::timeout, [this] {
            const auto now = std::chrono::steady_clock::now();
            if (lastProbe != std::chrono::steady_clock::time_point{}) {
                longestStall =
                    std::max(longestStall, now - lastProbe - std::chrono::milliseconds(5));
            }
            lastProbe = now;
        });
    }
    LoopConsole(const LoopConsole&) = delete;
    LoopConsole& operator=(const LoopConsole&) = delete;
    ~LoopConsole() {
        CloseWindow();
        factory.reset();
    }

    bool BackWithRowsPainted() const {
        return window->Connected() &&
               window->findChild<QLabel*>("pnlServers_3")->text() == "LOCAL" &&
               window->findChild<QLabel*>("pnlServers_5")->text() == "LOCAL";
    }
    // Runs the event loop until done() (checked every 10 ms) or the limit;
    // the time it ran.
    std::chrono::steady_clock::duration Run(const std::function<bool()>& done,
                                            std::chrono::milliseconds limit) {
        const auto start = std::chrono::steady_clock::now();
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (done()) loop.quit();
        });
        check.start(10);
        QTimer::singleShot(limit, &loop, &QEventLoop::quit);
        if (!done()) loop.exec();
        return std::chrono::steady_clock::now() - start;
    }
    // The longest lateness of a 5 ms timer while the loop ran until done.
    std::chrono::steady_clock::duration LongestStall(const std::function<bool()>& done,
                                                     std::chrono::milliseconds limit) {
        longestStall = {};
        lastProbe = {};
        probe.start();
        Run(done, limit);
        probe.stop();
        return longestStall;
    }

    platform::SystemClock clock;
    fakes::FakeWindowSystem windows;
    platform::QtUiDispatcher dispatcher;
    std::unique_ptr<suiteclient::GrpcSuiteServerFactory> factory;
    QTimer probe;
    std::chrono::steady_clock::time_point lastProbe{};
    std::chrono::steady_clock::duration longestStall{};
};

LoopConsole* loopConsole = nullptr;

// Twelve seconds stopped: the loss (the keep-alive breaks the event stream
// within about two seconds) and two quiet retries, each of which waits a
// whole creation deadline on the worker. The time reported is the event
// loop's longest stall over those twelve seconds.
void BM_StoppedServerLongestStall(benchmark::State& state) {
    auto& c = *loopConsole;
    for (auto _ : state) {
        c.Run([&] { return c.BackWithRowsPainted(); }, std::chrono::seconds(30));
        orvel::testing::StopProcess(c.harness.serverPid);
        const auto stall = c.LongestStall([] { return false; }, std::chrono::seconds(12));
        state.SetIterationTime(std::chrono::duration<double>(stall).count());
        kill(c.harness.serverPid, SIGCONT);
    }
}
BENCHMARK(BM_StoppedServerLongestStall)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// From SIGCONT to connected with the rows painted, after the loss; it
// includes the wait for the next quiet retry (every five seconds). The
// stall counter is the event loop's longest over the same span.
void BM_ContinuedServerReconnected(benchmark::State& state) {
    auto& c = *loopConsole;
    double longest = 0;
    for (auto _ : state) {
        c.Run([&] { return c.BackWithRowsPainted(); }, std::chrono::seconds(30));
        orvel::testing::StopProcess(c.harness.serverPid);
        c.Run([&] { return !c.window->Connected(); }, std::chrono::seconds(10));
        kill(c.harness.serverPid, SIGCONT);
        const auto start = std::chrono::steady_clock::now();
        const auto stall =
            c.LongestStall([&] { return c.BackWithRowsPainted(); }, std::chrono::seconds(30));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        longest = std::max(longest, std::chrono::duration<double, std::milli>(stall).count());
    }
    state.counters["longest_stall_ms"] = longest;
}
BENCHMARK(BM_ContinuedServerReconnected)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    Console shared;
    // The first phase 5 stops what the connection started locally; after that
    // every phase 5 asks each slot's status and stops nothing.
    console = &shared;
    LoopConsole onLoop;
    loopConsole = &onLoop;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
