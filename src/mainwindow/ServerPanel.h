#pragma once

// The server frame fraServers: the identity panel of the connected file
// server (name, operating system, version, the side and host buttons) above
// twenty component rows, each a button (cmdServers) beside its state panel
// (pnlServers) in a row container (spltServers). It paints what the
// connection manager holds and starts or stops a row's component on a click.

#include <array>
#include <cstdint>
#include <string>

#include <QGroupBox>

#include "launcher/ApplicationCatalogue.h"
#include "mainwindow/ColourThemes.h"
#include "mainwindow/RowHistory.h"
#include "platform/Dialogs.h"
#include "platform/UiDispatcher.h"
#include "platform/WindowSystem.h"
#include "settings/ConsoleSettings.h"
#include "status/ComponentServerTable.h"

class QLabel;
class QPushButton;

namespace orvel::mainwindow {

class ServerConnection;
class StatePanel;

class ServerPanel : public QGroupBox {
    Q_OBJECT
  public:
    // What the panel works with; all of it outlives the panel.
    struct Services {
        status::ComponentServerTable& table;
        const settings::ConsoleSettings& settings;
        platform::Dialogs& dialogs;
        launcher::ApplicationCatalogue& catalogue;
        platform::WindowSystem& windows;
        ServerConnection& connection;
        // The main window's active colours.
        const ColourTable& colours;
        // Where the rows' history answers are handed to the window; none:
        // the rows' tips show no history.
        platform::UiDispatcher* dispatcher = nullptr;
    };

    ServerPanel(Services services, QWidget* parent);

    // Painting routines.
    void RefreshServerList();
    void RefreshServerPanel();
    void RefreshServerSelection();
    void RefreshServerNameLabel();
    void RefreshServerOSLabel();
    void RefreshServerVersionLabel();
    // knownName: the component's name as the entry's server just gave it,
    // which spares asking for it again.
    void ShowComponentStatus(int index, std::int32_t code,
                             const platform::RuntimeError& callError = {},
                             const std::string* knownName = nullptr);
    // Repaints row index from a status call's outcome (code 10 on failure).
    void PaintStatusOutcome(int index, const platform::Outcome<std::int32_t>& status,
                            const std::string* knownName = nullptr);
    // A server's change event: repaints the row when the event came from the
    // reference that serves it (hostKind 1 local, 2 remote).
    void OnServerChange(std::int16_t hostKind, std::int16_t idxIndex);
    // A row's click: starts an off-line component, stops a running one.
    void cmdServers_Click(int index);

    // The checked Configure entry (-1 none), which decides the side buttons.
    void SetRole(std::int16_t role) { role_ = role; }
    // The rows' captions from the table, before any connection.
    void ShowRowCaptions();
    // The connect's states of the identity panel.
    void ShowConnecting();
    void ShowSideTitle(const std::string& title);
    void LockSide(bool localSide);
    void ReleaseSides();
    // The poll's rules for the disconnect-all and host buttons.
    void RefreshDisconnectAllButton();
    void ReleaseHostButton();
    void HoldHostButton();

  signals:
    void localClicked();
    void remoteClicked();
    void hostClicked();
    void connectAllClicked();
    void disconnectAllClicked();

  protected:
    // Clicks on the identity panel's labels and frames.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildIdentityPanel();
    void BuildRows();
    void StopRunningComponent(int index);
    // Every row's tip again, with what its server's record says.
    void ShowRowHistory();

    Services services_;
    RowHistory history_{services_.dispatcher};
    // Each row's tip from its state, before the history is added.
    std::array<std::string, suite::kComponentSlots> baseTips_{};
    std::int16_t role_ = -1;
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
};

}  // namespace orvel::mainwindow
