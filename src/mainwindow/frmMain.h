#pragma once

// The console's main window: menus, tool bar, the status bar and its 500 ms
// poll, the server events' wait window. The server frame (ServerPanel), the
// launcher frame (ApplicationPanel) and the connection manager
// (ServerConnection) do the work behind the routines it forwards.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include <QLabel>
#include <QMainWindow>

#include "mainwindow/ApplicationPanel.h"
#include "mainwindow/CategoryToolBar.h"
#include "mainwindow/ColourThemes.h"
#include "mainwindow/MainWindowContext.h"
#include "mainwindow/ServerConnection.h"
#include "mainwindow/ServerPanel.h"
#include "mainwindow/SplitRow.h"
#include "mainwindow/StatePanel.h"
#include "mainwindow/WindowSizing.h"

class QAction;
class QMenu;
class QTimer;
class QWidget;

namespace orvel::mainwindow {

class frmMessage;
class GeneralStatusBar;

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
    void cmdServerConnect_Click() { connection_->ConnectAll(); }
    void cmdServerDisconnect_Click() { connection_->DisconnectAll(); }
    void cmdServers_Click(int index) { fraServers_->cmdServers_Click(index); }
    void tmrTimer_Timer();
    // The orderly close asked for by a system signal: no question, no box.
    void CloseBySignal();

    // The launcher panel for CurrentCategory, one program's state, the launch
    // action of a slot.
    void FillApplicationPanel() {
        fraApplications_->FillApplicationPanel(CurrentCategory_, currentColours_);
    }
    void RefreshApplicationState(int index) { fraApplications_->RefreshApplicationState(index); }
    void cmdApplication_Click(int slot) { fraApplications_->cmdApplication_Click(slot); }

    // Painting routines.
    void ApplyColourTheme();
    void RefreshServerPanel() { fraServers_->RefreshServerPanel(); }
    void RefreshServerSelection() { fraServers_->RefreshServerSelection(); }
    void RefreshServerList() { fraServers_->RefreshServerList(); }
    void StopUnneededServers() { connection_->StopUnneededServers(); }

    // A server message, as delivered by either reference.
    void OnServerMessage(std::int16_t intMessage, std::int16_t intVar, const std::string& strVar);

    bool Connected() const { return connection_->Connected(); }

    // State, for the start-up and the tests.
    std::int16_t TickCounter() const { return tickCounter_; }
    frmMessage* WaitWindow() const { return waitWindow_.get(); }
    QTimer* Timer() const { return tmrTimer_; }
    ApplicationPanel* Applications() const { return fraApplications_; }
    ServerConnection* Connection() const { return connection_; }
    const ColourTable& CurrentColours() const { return currentColours_; }

    // The resize rules: records the placement, keeps the minimum size and
    // the top snap, and sizes the lettering of the launcher and server rows.
    void ApplyResizeRules() { sizing_.ApplyResizeRules(); }
    double LetteringPoints() const { return sizing_.LetteringPoints(); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildMenus();
    void BuildToolsAndHelpMenus();
    void BuildToolBar();
    void BuildFrames();
    void BuildStatusBar();
    void WireConnection();

    void Connect();
    void SetMenusDisconnected();
    void ShowConnectedSide();
    void ShowReleaseCaption();
    void ApplyAutoStart();
    void Unload();
    void Terminate();
    void UnloadWaitWindow();

    std::int16_t CheckedConfigureEntry() const;
    void SetConfigureEntry(int index);

    MainWindowContext& context_;
    ServerConnection* connection_ = nullptr;
    std::int16_t CurrentCategory_ = 0;
    std::int16_t tickCounter_ = 0;
    ColourTable currentColours_{};
    std::unique_ptr<frmMessage> waitWindow_;
    bool unloaded_ = false;
    bool terminated_ = false;
    bool previousInstance_ = false;  // a second copy: it ends without any clean-up
    bool unattended_ = false;        // closing for a system signal: no boxes
    bool messageResent_ = false;     // the server message came again since the last tick
    WindowSizing sizing_{*this, context_.settings, context_.screenOf};

    QMenu* mnuFile_ = nullptr;
    QMenu* mnuConfigure_ = nullptr;
    QMenu* mnuSetup_ = nullptr;
    QMenu* mnuSetupColors_ = nullptr;
    QMenu* mnuTools_ = nullptr;
    QMenu* mnuHelp_ = nullptr;
    std::array<QAction*, 3> mnuConfigureIndex_{};
    std::array<QAction*, kThemeCount> mnuSetupColorsIndex_{};
    QAction* mnuSetupAutoStartOrvelConsole_ = nullptr;

    CategoryToolBar* tlbToolBar_ = nullptr;
    QWidget* centre_ = nullptr;
    ApplicationPanel* fraApplications_ = nullptr;
    ServerPanel* fraServers_ = nullptr;
    GeneralStatusBar* staGeneral_ = nullptr;
    QTimer* tmrTimer_ = nullptr;
};

}  // namespace orvel::mainwindow
