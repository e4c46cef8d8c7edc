#pragma once

// A main window connected in local mode to a real Orvel_Server over its unix
// socket, with every used component installed and an active set; shared by
// the main-window benchmarks.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "FakeClock.h"
#include "FakeDialogs.h"
#include "FakeInstanceLock.h"
#include "MainWindowFixture.h"
#include "PlacedFileSystem.h"
#include "SuiteServerHarness.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::bench {

// The server with its installation and what the window is built from; the
// window itself is opened by the console that owns its clock and windows.
struct ConsoleInstallation {
    ConsoleInstallation() {
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
        actions.table = &table;
        actions.settings = &settings;
    }
    ConsoleInstallation(const ConsoleInstallation&) = delete;
    ConsoleInstallation& operator=(const ConsoleInstallation&) = delete;
    ~ConsoleInstallation() { CloseWindow(); }

    // Builds and loads the window; a dispatcher puts its server calls on the worker.
    void OpenWindow(platform::Clock& clock, platform::WindowSystem& windows,
                    suiteclient::SuiteServerFactory& servers,
                    platform::UiDispatcher* dispatcher = nullptr) {
        context = std::make_unique<mainwindow::MainWindowContext>(
            mainwindow::MainWindowContext{settings, dialogs, clock, windows, instanceLock, servers,
                                          files, version, table, catalogue, themes, actions, true});
        context->dispatcher = dispatcher;
        window = std::make_unique<mainwindow::frmMain>(*context);
        // Only the console that owns the loop lets the window's timer run.
        if (dispatcher == nullptr) window->Timer()->stop();
        window->Load();
    }
    // Closes the window; the owner of its clock and windows calls it first.
    void CloseWindow() {
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
    fakes::FakeInstanceLock instanceLock;
    fakes::PlacedFileSystem files{"/opt/console"};
    mainwindow::testing::RecordingActions actions;
    std::unique_ptr<mainwindow::MainWindowContext> context;
    std::unique_ptr<mainwindow::frmMain> window;
};

// The console on the harness's own dispatcher and a fake clock. Windows is
// the window system the console looks tools up with.
template <typename Windows>
struct ConnectedConsole : ConsoleInstallation {
    template <typename... WindowArgs>
    explicit ConnectedConsole(WindowArgs&&... windowArgs)
        : windows(std::forward<WindowArgs>(windowArgs)...) {
        OpenWindow(clock, windows, harness.Factory());
        window->cmdServerOrvelHost_Click();
        Settle();
    }
    ConnectedConsole(const ConnectedConsole&) = delete;
    ConnectedConsole& operator=(const ConnectedConsole&) = delete;
    ~ConnectedConsole() { CloseWindow(); }

    // Lets the change events of what was just started or stopped arrive.
    void Settle() {
        harness.dispatcher.RunUntil([] { return false; }, std::chrono::milliseconds(300));
    }

    fakes::FakeClock clock;
    Windows windows;
};

// Registers the full server row refresh and the poll tick (averaged over
// whole eleven-tick cycles) of *console under the names given; true. Called
// from a static initialiser, it keeps the place of the two among the
// program's BENCHMARK entries.
template <typename Console>
bool RegisterRefreshAndTick(Console* const& console, const char* refreshName,
                            const char* tickName) {
    benchmark::RegisterBenchmark(refreshName,
                                 [&console](benchmark::State& state) {
                                     for (auto _ : state) {
                                         console->window->RefreshServerList();
                                         console->harness.dispatcher.RunPending();
                                     }
                                 })
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark(tickName,
                                 [&console](benchmark::State& state) {
                                     for (auto _ : state) {
                                         console->window->tmrTimer_Timer();
                                         console->harness.dispatcher.RunPending();
                                     }
                                 })
        ->Unit(benchmark::kMicrosecond)
        ->Iterations(1100)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
    return true;
}

}  // namespace orvel::bench
