#pragma once

// The windows of the running console: the colour themes and the application
// catalogue that start-up fills, the splash, and the main window frmMain with
// the services of the other parts of the console wired to its menus.

#include <memory>

#include "launcher/ApplicationCatalogue.h"
#include "mainwindow/ColourThemes.h"
#include "mainwindow/frmMain.h"
#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"
#include "platform/ProcessTable.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramStarter.h"
#include "platform/Registry.h"
#include "platform/SystemInfo.h"
#include "platform/UiDispatcher.h"
#include "platform/VersionInfo.h"
#include "platform/WindowSystem.h"
#include "settings/ConsoleSettings.h"
#include "settings/RegistryValues.h"
#include "startup/StartupSequence.h"
#include "startup/frmSplash.h"
#include "suiteclient/SuiteServer.h"

namespace orvel::startup {

struct ConsoleServices {
    platform::Registry& registry;
    platform::Dialogs& dialogs;
    platform::Clock& clock;
    platform::InstanceLock& instanceLock;
    platform::SystemInfo& systemInfo;
    platform::FileSystem& fileSystem;
    platform::ProfileFile& profile;
    platform::WindowSystem& windows;
    suiteclient::SuiteServerFactory& servers;
    const platform::VersionInfo& version;
    settings::ConfigurationContext& configuration;
    platform::Diagnostics& diagnostics;
    // The process walk of the start-up's process verification; none: not shown.
    platform::ProcessTable* processes = nullptr;
    // Starts the catalogue's programs; none: a launch reports that it cannot start.
    platform::ProgramStarter* programStarter = nullptr;
    // Hands the server worker's results to the user-interface thread.
    platform::UiDispatcher* dispatcher = nullptr;
};

class ConsoleWindows {
  public:
    explicit ConsoleWindows(const ConsoleServices& services,
                            int splashTimeoutMs = kSplashTimeoutMs);
    ~ConsoleWindows();

    // Steps 7, 9, 12 and 13 of start-up.
    StartupHooks Hooks();
    mainwindow::frmMain* MainWindow() { return mainWindow_.get(); }
    const mainwindow::ColourThemes& Themes() const { return themes_; }
    const launcher::ApplicationCatalogue& Catalogue() const { return catalogue_; }

  private:
    class Actions;
    bool ShowMainWindow(ProgramState& state);

    ConsoleServices services_;
    int splashTimeoutMs_ = kSplashTimeoutMs;
    settings::RegistryContext registryValues_;
    mainwindow::ColourThemes themes_;
    launcher::ApplicationCatalogue catalogue_{};
    std::unique_ptr<Actions> actions_;
    std::unique_ptr<mainwindow::MainWindowContext> context_;
    std::unique_ptr<mainwindow::frmMain> mainWindow_;
    bool loading_ = false;  // the main window's load runs
};

}  // namespace orvel::startup
