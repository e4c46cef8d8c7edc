#pragma once

// The console's main window: menus, tool bar, the component server rows and
// the server identity panel, the status bar and its 500 ms poll, and the
// connection manager with the server's events.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QLabel>
#include <QMainWindow>
#include <QPointer>

#include "launcher/ApplicationCatalogue.h"
#include "mainwindow/ColourThemes.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"
#include "platform/ProgramStarter.h"
#include "platform/VersionInfo.h"
#include "platform/WindowSystem.h"
#include "settings/ConsoleSettings.h"
#include "status/ComponentServerTable.h"
#include "status/WinColours.h"
#include "suiteclient/SuiteServer.h"

class QAction;
class QGroupBox;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;
class QToolBar;
class QWidget;

namespace orvel::mainwindow {

class ApplicationPanel;
class frmMessage;

// Program state and services the window works with; main() builds them and
// they outlive the window.
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
};

// Clickable 3-D state panel of a server or application row.
class StatePanel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// One row of the server or application frame: a container holding a button
// and its state panel, named <rowName>_i, <buttonName>_i and <panelName>_i.
struct SplitRow {
    QWidget* row = nullptr;
    QPushButton* button = nullptr;
    StatePanel* panel = nullptr;
};
SplitRow MakeSplitRow(QWidget* parent, const char* rowName, const char* buttonName,
                      const char* panelName, int index);

class frmMain : public QMainWindow {
    Q_OBJECT
  public:
    explicit frmMain(MainWindowContext& context, QWidget* parent = nullptr);
    ~frmMain() override;  // terminate

    // Load: false when another console runs (the program must end at once).
    bool Load();

    // Menu and button actions (also run by tests and by the load).
    void mnuFileExit_Click();
    void mnuFileRestoreSize_Click();
    void mnuSetupColorsIndex_Click(int index);
    void mnuConfigureIndex_Click(int index);
    void tlbToolBar_ButtonClick(const QString& key);
    void cmdServerLocal_Click();
    void cmdServerRemote_Click();
    void cmdServerOrvelHost_Click();
    void cmdServerConnect_Click();
    void cmdServerDisconnect_Click();
    void cmdServers_Click(int index);
    void tmrTimer_Timer();

    // The launcher panel for CurrentCategory, one program's state, the launch
    // action of a slot.
    void FillApplicationPanel();
    void RefreshApplicationState(int index);
    void cmdApplication_Click(int slot);

    // Painting routines.
    void ApplyColourTheme();
    void RefreshServerPanel();
    void RefreshServerSelection();
    void RefreshServerNameLabel();
    void RefreshServerOSLabel();
    void RefreshServerVersionLabel();
    void RefreshServerList();
    // knownName: the component's name as the entry's server just gave it,
    // which spares asking for it again.
    void ShowComponentStatus(int index, std::int32_t code,
                             const platform::RuntimeError& callError = {},
                             const std::string* knownName = nullptr);
    void StopUnneededServers();

    // Server events, as delivered by either reference (hostKind 1 local, 2 remote).
    void OnServerChange(std::int16_t hostKind, std::int16_t idxIndex);
    void OnServerMessage(std::int16_t intMessage, std::int16_t intVar, const std::string& strVar);

    std::int16_t OtherClientCount();
    bool Connected();

    // State, for the start-up and the tests.
    const std::shared_ptr<suiteclient::SuiteServer>& objOrvelServerLocal() const { return local_; }
    const std::shared_ptr<suiteclient::SuiteServer>& objOrvelServerRemote() const {
        return remote_;
    }
    std::int16_t LocalClientNumber() const { return localClientNumber_; }
    std::int16_t RemoteClientNumber() const { return remoteClientNumber_; }
    std::int16_t TickCounter() const { return tickCounter_; }
    const ColourTable& CurrentColours() const { return currentColours_; }
    frmMessage* WaitWindow() const { return waitWindow_.get(); }
    QTimer* Timer() const { return tmrTimer_; }
    ApplicationPanel* Applications() const { return fraApplications_; }

    // The resize rules: records the placement, keeps the minimum size and
    // the top snap, and sizes the lettering of the launcher and server rows.
    void ApplyResizeRules();
    double LetteringPoints() const { return letteringPoints_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildMenus();
    void BuildToolBar();
    void BuildServerFrame();
    void BuildStatusBar();

    void Connect();
    void Disconnect();
    bool CreateReferences();
    void ReleaseReference(std::shared_ptr<suiteclient::SuiteServer>& reference);
    void WithdrawRegistrations();
    void SetMenusDisconnected();
    void ReportDComError(const platform::RuntimeError& error);
    bool SelectedSideHasName() const;
    void Unload();
    void Terminate();
    void UnloadWaitWindow();
    void CloseOrShowRunningTool(bool close);

    // Repaints row index from a status call's outcome (code 10 on failure).
    void PaintStatusOutcome(int index, const platform::Outcome<std::int32_t>& status,
                            const std::string* knownName = nullptr);
    std::shared_ptr<suiteclient::SuiteServer> ReferenceOfKind(std::int16_t hostKind) const;
    std::int16_t CheckedConfigureEntry() const;
    launcher::ServerAccess Access();

    void ResizeToTwips(int widthTwips, int heightTwips);
    void SetMinimumOuterSize();
    void SetStatusPanel(const char* key, const std::string& text, const std::string& toolTip);
    QLabel* StatusPanel(const char* key) const;

    MainWindowContext& context_;

    std::shared_ptr<suiteclient::SuiteServer> local_;
    std::shared_ptr<suiteclient::SuiteServer> remote_;
    std::int16_t localClientNumber_ = 0;
    std::int16_t remoteClientNumber_ = 0;
    std::chrono::steady_clock::time_point connectHoldUntil_{};
    std::int16_t CurrentCategory_ = 0;
    std::int16_t tickCounter_ = 0;
    ColourTable currentColours_{};
    std::unique_ptr<frmMessage> waitWindow_;
    bool unloaded_ = false;
    bool terminated_ = false;
    bool loaded_ = false;
    bool previousInstance_ = false;  // a second copy: it ends without any clean-up
    bool applyingResizeRules_ = false;
    double letteringPoints_ = 10.0;

    QMenu* mnuFile_ = nullptr;
    QMenu* mnuConfigure_ = nullptr;
    QMenu* mnuSetup_ = nullptr;
    QMenu* mnuSetupColors_ = nullptr;
    QMenu* mnuTools_ = nullptr;
    QMenu* mnuHelp_ = nullptr;
    std::array<QAction*, 3> mnuConfigureIndex_{};
    std::array<QAction*, kThemeCount> mnuSetupColorsIndex_{};
    QAction* mnuSetupAutoStartOrvelConsole_ = nullptr;

    QToolBar* tlbToolBar_ = nullptr;
    QWidget* centre_ = nullptr;
    ApplicationPanel* fraApplications_ = nullptr;
    QGroupBox* fraServers_ = nullptr;
    QGroupBox* fraOrvelServer_ = nullptr;
    QGroupBox* fraOrvelServerOS_ = nullptr;
    QLabel* lblOrvelServerName_ = nullptr;
    QLabel* lblOrvelServerOS_ = nullptr;
    QLabel* lblOrvelServerVersion_ = nullptr;
    QPushButton* cmdServerLocal_ = nullptr;
    QPushButton* cmdServerRemote_ = nullptr;
    QPushButton* cmdServerOrvelHost_ = nullptr;
    QPushButton* cmdServerConnect_ = nullptr;
    QPushButton* cmdServerDisconnect_ = nullptr;
    std::array<QWidget*, suite::kComponentSlots> spltServers_{};
    std::array<QPushButton*, suite::kComponentSlots> cmdServers_{};
    std::array<StatePanel*, suite::kComponentSlots> pnlServers_{};
    QStatusBar* staGeneral_ = nullptr;
    QTimer* tmrTimer_ = nullptr;
};

}  // namespace orvel::mainwindow
