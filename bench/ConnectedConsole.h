#pragma once

// One main window connected in local mode to a real Orvel_Server over its
// unix socket, with every used component installed and an active set; shared
// by the main-window benchmarks. Windows is the window system the console
// looks tools up with.

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

template <typename Windows>
struct ConnectedConsole {
    template <typename... WindowArgs>
    explicit ConnectedConsole(WindowArgs&&... windowArgs)
        : windows(std::forward<WindowArgs>(windowArgs)...) {
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
        context = std::make_unique<mainwindow::MainWindowContext>(mainwindow::MainWindowContext{
            settings, dialogs, clock, windows, instanceLock, harness.Factory(), files, version,
            table, catalogue, themes, actions, true});
        window = std::make_unique<mainwindow::frmMain>(*context);
        window->Timer()->stop();
        window->Load();
        window->cmdServerOrvelHost_Click();
        Settle();
    }
    ~ConnectedConsole() {
        window.reset();
        context.reset();
    }

    // Lets the change events of what was just started or stopped arrive.
    void Settle() {
        harness.dispatcher.RunUntil([] { return false; }, std::chrono::milliseconds(300));
    }

    orvel::testing::SuiteServerHarness harness;
    status::ComponentServerTable table;
    launcher::ApplicationCatalogue catalogue;
    mainwindow::ColourThemes themes;
    platform::VersionInfo version = platform::ProgramVersionInfo();
    settings::ConsoleSettings settings;
    fakes::FakeDialogs dialogs;
    fakes::FakeClock clock;
    Windows windows;
    fakes::FakeInstanceLock instanceLock;
    fakes::PlacedFileSystem files{"/opt/console"};
    mainwindow::testing::RecordingActions actions;
    std::unique_ptr<mainwindow::MainWindowContext> context;
    std::unique_ptr<mainwindow::frmMain> window;
};

}  // namespace orvel::bench
