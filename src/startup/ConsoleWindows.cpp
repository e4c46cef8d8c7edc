#include "startup/ConsoleWindows.h"

#include "dcom/DComConfiguration.h"
#include "dcom/ServerRegistration.h"
#include "mainwindow/frmAbout.h"
#include "network/ui/frmIPAddress.h"
#include "processes/ui/frmProcesses.h"
#include "settings/Autostart.h"
#include "startup/frmSplash.h"

namespace orvel::startup {

namespace {

// Without a program starter nothing can be started.
class NoProgramStarter final : public platform::ProgramStarter {
  public:
    platform::StartResult Start(const std::string&, int) override {
        return {0, "no program starter"};
    }
};

}  // namespace

ConsoleWindows::ConsoleWindows(const ConsoleServices& services, int splashTimeoutMs)
    : services_(services),
      splashTimeoutMs_(splashTimeoutMs),
      registryValues_{services.registry, services.dialogs} {}

StartupHooks ConsoleWindows::Hooks() {
    StartupHooks hooks;
    hooks.fillColourThemes = [this](ProgramState&) { mainwindow::FillColourThemes(themes_); };
    hooks.buildApplicationCatalogue = [this](ProgramState& state) {
        launcher::BuildApplicationCatalogue(catalogue_, registryValues_, services_.fileSystem,
                                            state.strOrvelPath, state.strCorvanePath);
    };
    hooks.showSplash = [this](ProgramState&) {
        frmSplash splash(services_.version, services_.systemInfo.Version(), nullptr,
                         splashTimeoutMs_);
        splash.exec();
    };
    hooks.showMainWindow = [this](ProgramState& state) { return ShowMainWindow(state); };
    return hooks;
}

// The other parts of the console, as the main window's menus and load reach them.
class ConsoleWindows::Actions final : public mainwindow::ConsoleActions {
  public:
    Actions(ConsoleWindows& windows, ProgramState& state) : windows_(windows), state_(state) {}

    void ConfigureComputer(std::int16_t role) override {
        dcom::RegistrationContext registration{windows_.registryValues_, state_.ComponentServers,
                                               state_.ConsoleSettings, state_.strOrvelPath};
        dcom::ConfigureComputer(registration, role);
    }
    void WriteConfiguration() override {
        settings::WriteConsoleConfiguration(windows_.services_.configuration,
                                            state_.ConsoleSettings);
    }
    void ShowProcessVerification() override {
        auto& services = windows_.services_;
        if (services.processes == nullptr) return;
        processes::ProcessesContext verification{windows_.catalogue_, state_.ComponentServers,
                                                 *services.processes, services.windows,
                                                 services.dialogs};
        verification.AutoStart = state_.ConsoleSettings.AutoStart;
        verification.platformId = services.systemInfo.Version().platformId;
        processes::ShowProcessVerification(verification, windows_.mainWindow_.get());
    }
    void AutoStartChanged(bool checked) override {
        settings::SetAutoStart(windows_.registryValues_, windows_.services_.fileSystem,
                               state_.ConsoleSettings, checked,
                               windows_.loading_ ? settings::AutoStartToggle::AtLoad
                                                 : settings::AutoStartToggle::ByOperator);
    }
    void ShowAbout() override {
        auto& services = windows_.services_;
        NoProgramStarter none;
        platform::ProgramStarter& programs =
            services.programStarter ? *services.programStarter : none;
        mainwindow::frmAbout about(services.version,
                                   {services.registry, services.fileSystem, programs,
                                    services.dialogs, services.version.title},
                                   windows_.mainWindow_->windowIcon(), windows_.mainWindow_.get());
        about.exec();
    }
    void DComConfiguration() override {
        dcom::DComContext dcomContext{windows_.registryValues_, windows_.services_.diagnostics};
        dcom::mnuToolsDComConfiguration_Click(dcomContext);
    }
    void DComProtocol() override {
        dcom::DComContext dcomContext{windows_.registryValues_, windows_.services_.diagnostics};
        dcom::mnuToolsDComProtocol_Click(dcomContext);
    }
    void CorvaneSettings() override {
        auto& services = windows_.services_;
        network::frmIPAddress dialog(windows_.registryValues_, services.profile,
                                     services.fileSystem, services.systemInfo, services.dialogs,
                                     state_.strCorvanePath, windows_.mainWindow_.get());
        dialog.exec();
    }

  private:
    ConsoleWindows& windows_;
    ProgramState& state_;
};

ConsoleWindows::~ConsoleWindows() = default;

bool ConsoleWindows::ShowMainWindow(ProgramState& state) {
    if (mainWindow_) {
        mainWindow_->show();
        return true;
    }
    actions_ = std::make_unique<Actions>(*this, state);
    context_ = std::make_unique<mainwindow::MainWindowContext>(mainwindow::MainWindowContext{
        state.ConsoleSettings, services_.dialogs, services_.clock, services_.windows,
        services_.instanceLock, services_.servers, services_.fileSystem, services_.version,
        state.ComponentServers, catalogue_, themes_, *actions_, state.IsAdministrator});
    context_->programStarter = services_.programStarter;
    context_->dispatcher = services_.dispatcher;
    context_->userName = state.UserName;
    mainWindow_ = std::make_unique<mainwindow::frmMain>(*context_);
    loading_ = true;
    const bool loaded = mainWindow_->Load();
    loading_ = false;
    if (!loaded) {
        mainWindow_.reset();
        return false;
    }
    mainWindow_->show();
    return true;
}

}  // namespace orvel::startup
