// The launcher's share of the main window's work with real window lookups:
// Orvel_Server over its unix socket, an own Xvfb under openbox holding fifty
// top-level windows, the console connected in local mode showing the tools
// category (seven visible slots). Measures the full server row refresh and
// the poll tick over its eleven-tick cycle.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>

#include "MainWindowFixture.h"
#include "SuiteServerHarness.h"
#include "XTestSupport.h"
#include "mainwindow/ApplicationPanel.h"
#include "platform/X11WindowSystem.h"
#include "suite/SuiteServerSettings.h"

namespace {

using namespace orvel;

struct Console {
    explicit Console(const std::string& display) : windows(display) {
        for (int slot = 0; slot < 20; ++slot) {
            if (suite::IsUsedSlot(slot)) harness.InstallComponent(slot);
        }
        harness.SetString(platform::HKEY_LOCAL_MACHINE, std::string(suite::kActiveSetKey),
                          std::string(suite::kActiveSetValue), "Studio A");
        harness.StartServer();
        status::FillComponentServerTable(table, harness.suiteFolder + "/");
        launcher::FillApplicationRows(catalogue, harness.suiteFolder + "/", "/corvane/bin/",
                                      "Shaper.exe");
        mainwindow::FillColourThemes(themes);
        settings.LocalServerSelected = true;
        dialogs.AllowUnexpected(true);
        context = std::make_unique<mainwindow::MainWindowContext>(mainwindow::MainWindowContext{
            settings, dialogs, clock, windows, instanceLock, harness.Factory(), files, version,
            table, catalogue, themes, true});
        context->configureComputer = [this](std::int16_t role) {
            mainwindow::testing::ApplyRoleHostKinds(table, settings, role);
        };
        window = std::make_unique<mainwindow::frmMain>(*context);
        window->Timer()->stop();
        window->Load();
        window->cmdServerOrvelHost_Click();
        window->cmdServerConnect_Click();
        harness.dispatcher.RunUntil([] { return false; }, std::chrono::milliseconds(300));
        window->tlbToolBar_ButtonClick("keyOrvelTools");
    }
    ~Console() {
        window.reset();
        context.reset();
    }

    orvel::testing::SuiteServerHarness harness;
    status::ComponentServerTable table;
    launcher::ApplicationCatalogue catalogue;
    mainwindow::ColourThemes themes;
    platform::VersionInfo version = platform::ProgramVersionInfo();
    settings::ConsoleSettings settings;
    fakes::FakeDialogs dialogs;
    fakes::FakeClock clock;
    platform::X11WindowSystem windows;
    fakes::FakeInstanceLock instanceLock;
    mainwindow::testing::NoFiles files;
    std::unique_ptr<mainwindow::MainWindowContext> context;
    std::unique_ptr<mainwindow::frmMain> window;
};

Console* console = nullptr;

void BM_RefreshServerListX11(benchmark::State& state) {
    for (auto _ : state) {
        console->window->RefreshServerList();
        console->harness.dispatcher.RunPending();
    }
}
BENCHMARK(BM_RefreshServerListX11)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// One tick, averaged over whole eleven-tick cycles, seven launcher slots shown.
void BM_PollTickSevenSlots(benchmark::State& state) {
    for (auto _ : state) {
        console->window->tmrTimer_Timer();
        console->harness.dispatcher.RunPending();
    }
}
BENCHMARK(BM_PollTickSevenSlots)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(1100)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    std::string why;
    auto server = xtest::XServer::Start(why);
    if (server == nullptr || !server->StartWindowManager(why)) {
        std::fprintf(stderr, "no X server for the benchmark: %s\n", why.c_str());
        return 1;
    }
    xtest::XClient client(server->display());
    for (int i = 0; i < 50; ++i) client.CreateWindow("Suite Tool Window " + std::to_string(i));
    client.Flush();
    {
        Console shared(server->display());
        console = &shared;
        if (console->window->Applications()->isHidden()) return 1;
        benchmark::RunSpecifiedBenchmarks();
        console = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
