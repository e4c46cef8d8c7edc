#pragma once

// The windows start-up shows: the splash, and a plain main window that keeps
// the console's lifecycle (one copy per user, caption, settings written when
// it closes) until the full main window takes its place.

#include <memory>

#include <QMainWindow>

#include "platform/Dialogs.h"
#include "platform/InstanceLock.h"
#include "platform/SystemInfo.h"
#include "platform/VersionInfo.h"
#include "settings/ConsoleSettings.h"
#include "startup/StartupSequence.h"

namespace orvel::startup {

class InterimMainWindow : public QMainWindow {
    Q_OBJECT

  public:
    InterimMainWindow(settings::ConfigurationContext& configuration, ProgramState& state);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    settings::ConfigurationContext& configuration_;
    ProgramState& state_;
};

struct InterimServices {
    platform::Dialogs& dialogs;
    platform::InstanceLock& instanceLock;
    platform::SystemInfo& systemInfo;
    const platform::VersionInfo& version;
    settings::ConfigurationContext& configuration;
};

class InterimWindows {
  public:
    explicit InterimWindows(const InterimServices& services) : services_(services) {}

    // Steps 7 and 9 stay empty until the themes and the catalogue exist.
    StartupHooks Hooks();
    void ShowSplash();
    // False when another console of this user runs: the box, then the end.
    bool ShowMainWindow(ProgramState& state);
    InterimMainWindow* MainWindow() { return mainWindow_.get(); }

  private:
    InterimServices services_;
    std::unique_ptr<InterimMainWindow> mainWindow_;
};

}  // namespace orvel::startup
