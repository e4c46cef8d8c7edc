#pragma once

// Program state and services the main window works with; main() builds them
// and they outlive the window.

#include <cstdint>
#include <functional>

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
    bool IsAdministrator = false;

    // Services of other parts of the console, wired by main(); an empty one does nothing.
    // The computer role's class registration (ConfigureComputer).
    std::function<void(std::int16_t role)> configureComputer{};
    // WriteConsoleConfiguration.
    std::function<void()> writeConfiguration{};
    // The process verification dialog, shown modally at load.
    std::function<void()> showProcessVerification{};
    // The autostart entry's click action: records or removes the log-on entry
    // for the given checked state.
    std::function<void(bool checked)> autoStartChanged{};
    std::function<void()> showAbout{};
    std::function<void()> dcomConfiguration{};
    std::function<void()> dcomProtocol{};
    std::function<void()> corvaneSettings{};
    // Starts the catalogue's programs; none: a launch reports that it cannot start.
    platform::ProgramStarter* programStarter = nullptr;
    // Hands the server worker's results to the user-interface thread; none:
    // server calls run at once on the caller (logic tested with fake servers).
    platform::UiDispatcher* dispatcher = nullptr;
    // The screen the window is on; empty: the screen Qt reports.
    WindowSizing::ScreenOf screenOf{};
};

}  // namespace orvel::mainwindow
