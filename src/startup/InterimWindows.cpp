#include "startup/InterimWindows.h"

#include <QCloseEvent>

#include "startup/StartupTexts.h"
#include "startup/frmSplash.h"

namespace orvel::startup {

InterimMainWindow::InterimMainWindow(settings::ConfigurationContext& configuration,
                                     ProgramState& state)
    : configuration_(configuration), state_(state) {
    setObjectName("frmMain");
    setWindowTitle(QString::fromStdString(MainWindowCaption(configuration.version)));
    resize(633, 633);  // 9500 x 9500 twips at 96 dots per inch
}

void InterimMainWindow::closeEvent(QCloseEvent* event) {
    settings::WriteConsoleConfiguration(configuration_, state_.ConsoleSettings);
    event->accept();
}

StartupHooks InterimWindows::Hooks() {
    StartupHooks hooks;
    hooks.showSplash = [this](ProgramState&) { ShowSplash(); };
    hooks.showMainWindow = [this](ProgramState& state) { return ShowMainWindow(state); };
    return hooks;
}

void InterimWindows::ShowSplash() {
    frmSplash splash(services_.version, services_.systemInfo.Version());
    splash.exec();
}

bool InterimWindows::ShowMainWindow(ProgramState& state) {
    if (services_.instanceLock.PreviousInstance()) {
        services_.dialogs.MsgBox(
            "A previous instance of " + services_.version.exeName + " is already running",
            platform::vbCritical, "Previous Instance Detected");
        return false;
    }
    if (!mainWindow_) {
        mainWindow_ = std::make_unique<InterimMainWindow>(services_.configuration, state);
    }
    mainWindow_->show();
    return true;
}

}  // namespace orvel::startup
