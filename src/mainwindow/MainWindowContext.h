#pragma once

// Program state and services the main window works with; main() builds them
// and they outlive the window.

#include <cstdint>
#include <string>

#include "launcher/ApplicationCatalogue.h"
#include "mainwindow/ColourThemes.h"
#include "mainwindow/WindowSizing.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"
#include "platform/ProgramStarter.h"
#include "platform/UiDispatcher.h"
#include "platform/VersionInfo.h"
#include "platform/WindowSystem.h"
#include "settings/ConsoleSettings.h"
#include "status/ComponentServerTable.h"
#include "suiteclient/SuiteServer.h"

namespace orvel::mainwindow {

// What the main window asks of the other parts of the console. main() gives
// one implementation with every action: none can be left out unnoticed.
class ConsoleActions {
  public:
    virtual ~ConsoleActions() = default;
    // The computer role's class registration (ConfigureComputer).
    virtual void ConfigureComputer(std::int16_t role) = 0;
    // WriteConsoleConfiguration.
    virtual void WriteConfiguration() = 0;
    // The process verification dialog, shown modally at load.
    virtual void ShowProcessVerification() = 0;
    // The autostart entry's click: records or removes the log-on entry for
    // the given checked state.
    virtual void AutoStartChanged(bool checked) = 0;
    virtual void ShowAbout() = 0;
    virtual void DComConfiguration() = 0;
    virtual void DComProtocol() = 0;
    virtual void CorvaneSettings() = 0;
};

struct MainWindowContext {
    settings::ConsoleSettings& settings;
    platform::Dialogs& dialogs;
    platform::Clock& clock;
    platform::WindowSystem& windows;
    platform::InstanceLock& instanceLock;
    suiteclient::SuiteServerFactory& servers;
    platform::FileSystem& fileSystem;
    const platform::VersionInfo& version;
    status::ComponentServerTable& table;
    launcher::ApplicationCatalogue& catalogue;
    const ColourThemes& themes;
    ConsoleActions& actions;
    bool IsAdministrator = false;

    // Starts the catalogue's programs; none: a launch reports that it cannot start.
    platform::ProgramStarter* programStarter = nullptr;
    // Hands the server worker's results to the user-interface thread; none:
    // server calls run at once on the caller (logic tested with fake servers).
    platform::UiDispatcher* dispatcher = nullptr;
    // This user's log-in name, for the advice to a user the server refuses.
    std::string userName{};
    // The screen the window is on; empty: the screen Qt reports.
    WindowSizing::ScreenOf screenOf{};
};

}  // namespace orvel::mainwindow
