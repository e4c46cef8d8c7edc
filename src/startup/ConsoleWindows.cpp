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

ConsoleWindows::~ConsoleWindows() = default;

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

bool ConsoleWindows::ShowMainWindow(ProgramState& state) {
    if (mainWindow_) {
        mainWindow_->show();
        return true;
    }
    context_ = std::make_unique<mainwindow::MainWindowContext>(mainwindow::MainWindowContext{
        state.ConsoleSettings, services_.dialogs, services_.clock, services_.windows,
        services_.instanceLock, services_.servers, services_.fileSystem, services_.version,
        state.ComponentServers, catalogue_, themes_, state.IsAdministrator});
    auto& context = *context_;
    context.programStarter = services_.programStarter;
    context.dispatcher = services_.dispatcher;
    context.configureComputer = [this, &state](std::int16_t role) {
        dcom::RegistrationContext registration{registryValues_, state.ComponentServers,
                                               state.ConsoleSettings, state.strOrvelPath};
        dcom::ConfigureComputer(registration, role);
    };
    context.writeConfiguration = [this, &state] {
        settings::WriteConsoleConfiguration(services_.configuration, state.ConsoleSettings);
    };
    context.dcomConfiguration = [this] {
        dcom::DComContext dcomContext{registryValues_};
        dcom::mnuToolsDComConfiguration_Click(dcomContext);
    };
    context.dcomProtocol = [this] {
        dcom::DComContext dcomContext{registryValues_};
        dcom::mnuToolsDComProtocol_Click(dcomContext);
    };
    context.corvaneSettings = [this, &state] {
        network::frmIPAddress dialog(registryValues_, services_.profile, services_.fileSystem,
                                     services_.systemInfo, services_.dialogs, state.strCorvanePath,
                                     mainWindow_.get());
        dialog.exec();
    };
    context.showProcessVerification = [this, &state] {
        if (services_.processes == nullptr) return;
        processes::ProcessesContext verification{catalogue_, state.ComponentServers,
                                                 *services_.processes, services_.windows,
                                                 services_.dialogs};
        verification.AutoStart = state.ConsoleSettings.AutoStart;
        verification.platformId = services_.systemInfo.Version().platformId;
        processes::ShowProcessVerification(verification, mainWindow_.get());
    };
    context.autoStartChanged = [this, &state](bool checked) {
        settings::SetAutoStart(
            registryValues_, services_.fileSystem, state.ConsoleSettings, checked,
            loading_ ? settings::AutoStartToggle::AtLoad : settings::AutoStartToggle::ByOperator);
    };
    context.showAbout = [this] {
        NoProgramStarter none;
        platform::ProgramStarter& programs =
            services_.programStarter ? *services_.programStarter : none;
        mainwindow::frmAbout about(services_.version,
                                   {services_.registry, services_.fileSystem, programs,
                                    services_.dialogs, services_.version.title},
                                   mainWindow_->windowIcon(), mainWindow_.get());
        about.exec();
    };
    mainWindow_ = std::make_unique<mainwindow::frmMain>(context);
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
