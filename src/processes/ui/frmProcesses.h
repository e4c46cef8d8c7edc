#pragma once

// "Orvel Applications and Processes": shown at start-up, it lists the suite's
// component server programs that already run on this computer and the suite's
// applications whose windows are open, and offers to close the applications.
// It only advises: every way out lets the start-up go on.

#include <string>
#include <vector>

#include <QDialog>

#include "launcher/ApplicationCatalogue.h"
#include "platform/Dialogs.h"
#include "platform/ProcessTable.h"
#include "platform/WindowSystem.h"
#include "status/ComponentServerTable.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QShowEvent;

namespace orvel::processes {

struct ProcessesContext {
    launcher::ApplicationCatalogue& catalogue;  // only WindowHandle of 1-15 changes
    const status::ComponentServerTable& table;
    platform::ProcessTable& processes;
    platform::WindowSystem& windows;
    platform::Dialogs& dialogs;
    bool AutoStart = false;
    int platformId = 0;  // 1 the 95/98 method, 2 the NT method
    // How long one refresh pass after a close request waits for the closed
    // windows to go; the programs need a moment to answer the request.
    int closeWaitMs = 100;
};

class frmProcesses : public QDialog {
    Q_OBJECT
  public:
    explicit frmProcesses(const ProcessesContext& context, QWidget* parent = nullptr);

    // Load: false when the dialog unloaded itself (unsupported platform, or
    // nothing running) and must not be shown.
    bool Load();

    void RefreshApplicationList();
    void RefreshProcessList();

    void cmdStopApplication_Click();
    void cmdStopAllApplications_Click();
    void cmdCorrect_Click();
    void cmdAccept_Click();

    // Every way of closing ends here: the closing warning when lines remain;
    // the close is never refused.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void BuildControls();
    // Places the dialog in the middle of the available area of its screen.
    void CentreOnScreen();
    void Form_Activate();
    bool ListsEmpty() const;
    // Lets pending events run; after close requests, gives the closed
    // programs up to closeWaitMs to take their windows down.
    void YieldForClosedWindows(bool closesPosted);

    ProcessesContext context_;
    bool activated_ = false;
    bool unloaded_ = false;

    QLabel* lblInstruction_ = nullptr;
    QGroupBox* fraProcesses_ = nullptr;
    QListWidget* lstProcesses_ = nullptr;
    QPushButton* cmdStopProcesses_ = nullptr;
    QPushButton* cmdStopAllProcesses_ = nullptr;
    QGroupBox* fraApplications_ = nullptr;
    QListWidget* lstApplications_ = nullptr;
    QPushButton* cmdStopApplication_ = nullptr;
    QPushButton* cmdStopAllApplications_ = nullptr;
    QPushButton* cmdCorrect_ = nullptr;
    QPushButton* cmdAccept_ = nullptr;
};

// Load step 15 of the main window: builds the dialog and, unless it unloads
// itself during its load, shows it modally until it closes.
void ShowProcessVerification(const ProcessesContext& context, QWidget* mainWindow);

}  // namespace orvel::processes
