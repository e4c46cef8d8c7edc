#include "mainwindow/frmMain.h"

#include <QAction>
#include <QCloseEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "mainwindow/ApplicationPanel.h"
#include "mainwindow/GeneralStatusBar.h"
#include "mainwindow/WindowLayout.h"
#include "mainwindow/frmAbout.h"
#include "mainwindow/frmMessage.h"
#include "platform/AsciiCase.h"
#include "status/ServerReferences.h"
#include "status/StatusPoll.h"
#include "suite/ServerName.h"

namespace orvel::mainwindow {

using platform::vbCritical;

namespace {

constexpr int kTimerIntervalMs = 500;

// A menu entry with the object name the tests and the rest of the window find it by.
QAction* AddNamedAction(QMenu* menu, const char* name, const char* caption) {
    auto* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

}  // namespace

frmMain::frmMain(MainWindowContext& context, QWidget* parent)
    : QMainWindow(parent), context_(context) {
    setObjectName("frmMain");
    setWindowTitle(Q(context_.version.comments));
    centre_ = new QWidget(this);
    centre_->setObjectName("frmMainClient");
    setCentralWidget(centre_);
    connection_ = new ServerConnection(
        {context_.settings, context_.dialogs, context_.clock, context_.windows, context_.fileSystem,
         context_.servers, context_.table, context_.catalogue, context_.version.comments,
         context_.programStarter, context_.dispatcher, context_.userName},
        this);
    BuildMenus();
    BuildToolBar();
    BuildFrames();
    BuildStatusBar();
    WireConnection();
    // The window may shrink to its minimum size even where the rows would
    // rather be larger: they are squeezed, as the lettering shrinks with them.
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    sizing_.SetMinimumOuterSize();

    tmrTimer_ = new QTimer(this);
    tmrTimer_->setObjectName("tmrTimer");
    tmrTimer_->setInterval(kTimerIntervalMs);
    connect(tmrTimer_, &QTimer::timeout, this, &frmMain::tmrTimer_Timer);
    tmrTimer_->start();
}

frmMain::~frmMain() {
    Terminate();
}

// ---------------------------------------------------------------- layout

void frmMain::BuildMenus() {
    auto addMenu = [this](const char* name, const char* title) {
        auto* menu = menuBar()->addMenu(title);
        menu->setObjectName(name);
        return menu;
    };

    mnuFile_ = addMenu("mnuFile", "&File");
    connect(AddNamedAction(mnuFile_, "mnuFileRestoreSize", "&Restore Size"), &QAction::triggered,
            this, &frmMain::mnuFileRestoreSize_Click);
    connect(AddNamedAction(mnuFile_, "mnuFileExit", "E&xit"), &QAction::triggered, this,
            &frmMain::mnuFileExit_Click);

    mnuConfigure_ = addMenu("mnuConfigure", "Confi&gure");
    const char* configureCaptions[] = {"&File Server", "&Remote PC", "Remote PC E&xtended"};
    for (int i = 0; i < 3; ++i) {
        auto* action = mnuConfigure_->addAction(configureCaptions[i]);
        action->setObjectName(QString("mnuConfigureIndex_%1").arg(i));
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, i] { mnuConfigureIndex_Click(i); });
        mnuConfigureIndex_[static_cast<std::size_t>(i)] = action;
    }

    mnuSetup_ = addMenu("mnuSetup", "&Setup");
    mnuSetupColors_ = mnuSetup_->addMenu("&Colors");
    mnuSetupColors_->setObjectName("mnuSetupColors");
    const char* colourCaptions[] = {"&Blue", "&Cyan", "&Green", "&Yellow", "G&ray"};
    for (int i = 0; i < kThemeCount; ++i) {
        auto* action = mnuSetupColors_->addAction(colourCaptions[i]);
        action->setObjectName(QString("mnuSetupColorsIndex_%1").arg(i));
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, i] { mnuSetupColorsIndex_Click(i); });
        mnuSetupColorsIndex_[static_cast<std::size_t>(i)] = action;
    }
    AddNamedAction(mnuSetup_, "mnuSetupFonts", "&Fonts");  // no action attached
    mnuSetupAutoStartOrvelConsole_ =
        AddNamedAction(mnuSetup_, "mnuSetupAutoStartOrvelConsole", "Auto &Start Orvel Console");
    mnuSetupAutoStartOrvelConsole_->setCheckable(true);
    connect(mnuSetupAutoStartOrvelConsole_, &QAction::triggered, this,
            [this](bool checked) { context_.actions.AutoStartChanged(checked); });

    BuildToolsAndHelpMenus();
}

void frmMain::BuildToolsAndHelpMenus() {
    mnuTools_ = menuBar()->addMenu("&Tools");
    mnuTools_->setObjectName("mnuTools");
    auto& actions = context_.actions;
    connect(AddNamedAction(mnuTools_, "mnuToolsDComConfiguration", "&DCom Configuration"),
            &QAction::triggered, this, [&actions] { actions.DComConfiguration(); });
    connect(AddNamedAction(mnuTools_, "mnuToolsDComProtocol", "DCom &Protocol"),
            &QAction::triggered, this, [&actions] { actions.DComProtocol(); });
    connect(AddNamedAction(mnuTools_, "mnuToolsCorvaneSettings", "Corvane Settings"),
            &QAction::triggered, this, [&actions] { actions.CorvaneSettings(); });

    mnuHelp_ = menuBar()->addMenu("&Help");
    mnuHelp_->setObjectName("mnuHelp");
    connect(AddNamedAction(mnuHelp_, "mnuHelpAbout", "&About"), &QAction::triggered, this,
            [&actions] { actions.ShowAbout(); });
}

void frmMain::BuildToolBar() {
    tlbToolBar_ = new CategoryToolBar(this);
    addToolBar(tlbToolBar_);
    connect(tlbToolBar_, &CategoryToolBar::buttonClicked, this, &frmMain::tlbToolBar_ButtonClick);
}

void frmMain::BuildFrames() {
    auto* outer = new QVBoxLayout(centre_);
    outer->setContentsMargins(16, 8, 16, 8);
    fraApplications_ =
        new ApplicationPanel({context_.catalogue, context_.table, context_.windows,
                              context_.fileSystem, context_.dialogs, context_.programStarter,
                              context_.settings, connection_->Local(), connection_->Remote()},
                             centre_);
    connect(fraApplications_, &ApplicationPanel::serversWanted, this,
            [this] { tlbToolBar_ButtonClick("keyOrvelServers"); });
    fraApplications_->hide();
    outer->addWidget(fraApplications_);
    fraServers_ =
        new ServerPanel({context_.table, context_.settings, context_.dialogs, context_.catalogue,
                         context_.windows, *connection_, currentColours_, context_.dispatcher},
                        centre_);
    outer->addWidget(fraServers_);
    connect(fraServers_, &ServerPanel::localClicked, this, &frmMain::cmdServerLocal_Click);
    connect(fraServers_, &ServerPanel::remoteClicked, this, &frmMain::cmdServerRemote_Click);
    connect(fraServers_, &ServerPanel::hostClicked, this, &frmMain::cmdServerOrvelHost_Click);
    connect(fraServers_, &ServerPanel::connectAllClicked, this, &frmMain::cmdServerConnect_Click);
    connect(fraServers_, &ServerPanel::disconnectAllClicked, this,
            &frmMain::cmdServerDisconnect_Click);
    // The side buttons follow the checked Configure entry, however it changes.
    for (auto* entry : mnuConfigureIndex_) {
        connect(entry, &QAction::toggled, this,
                [this] { fraServers_->SetRole(CheckedConfigureEntry()); });
    }
}

// The connection manager's steps, shown as they happen.
void frmMain::WireConnection() {
    auto* c = connection_;
    connect(c, &ServerConnection::connecting, fraServers_, &ServerPanel::ShowConnecting);
    connect(c, &ServerConnection::registering, this, &frmMain::ShowConnectedSide);
    connect(c, &ServerConnection::sideLocked, fraServers_, &ServerPanel::LockSide);
    connect(c, &ServerConnection::sidesReleased, fraServers_, &ServerPanel::ReleaseSides);
    connect(c, &ServerConnection::disconnected, this, &frmMain::SetMenusDisconnected);
    connect(c, &ServerConnection::identityChanged, this, &frmMain::RefreshServerPanel);
    connect(c, &ServerConnection::rowsChanged, this, &frmMain::RefreshServerList);
    connect(c, &ServerConnection::serverChange, fraServers_, &ServerPanel::OnServerChange);
    connect(c, &ServerConnection::serverMessage, this, &frmMain::OnServerMessage);
    connect(c, &ServerConnection::connectionLost, this, [this] {
        SetMenusDisconnected();
        staGeneral_->ShowDisconnected();
    });
    // The status bar names the active set with the rows, not a poll cycle later.
    connect(c, &ServerConnection::connected, this, [this] {
        staGeneral_->ShowConnected();
        staGeneral_->ShowKnownActiveSet();
    });
    // A refusal's reason is in the status bar as soon as its box is answered.
    connect(c, &ServerConnection::disconnected, staGeneral_, &GeneralStatusBar::ShowDisconnected);
}

void frmMain::BuildStatusBar() {
    staGeneral_ = new GeneralStatusBar({context_.settings, context_.clock, *connection_}, this);
    setStatusBar(staGeneral_);
}

// ---------------------------------------------------------------- lifecycle

bool frmMain::Load() {
    auto& settings = context_.settings;
    if (context_.instanceLock.PreviousInstance()) {
        previousInstance_ = true;
        context_.dialogs.MsgBox(
            "A previous instance of " + context_.version.exeName + " is already running",
            vbCritical, "Previous Instance Detected");
        return false;
    }
    mnuSetupColorsIndex_Click(settings.ColorTheme);
    sizing_.ApplyStoredWindowState();
    sizing_.ResizeToTwips(kStandardSizeTwips, kStandardSizeTwips);
    ShowReleaseCaption();
    fraServers_->ShowRowCaptions();
    CurrentCategory_ = 0;
    tlbToolBar_ButtonClick("keyOrvelServers");

    // A stored remote name that is not a host name or address counts as empty.
    if (!suite::IsValidServerName(settings.RemoteServerName)) settings.RemoteServerName.clear();

    SetConfigureEntry(settings.Current);
    context_.actions.ConfigureComputer(settings.Current);
    settings.LocalServerName = "Local Server";

    context_.actions.ShowProcessVerification();
    ApplyAutoStart();
    FillApplicationPanel();
    RefreshServerList();
    return true;
}

// The caption carries the release marker's text once a release stamped it.
void frmMain::ShowReleaseCaption() {
    const auto& version = context_.version;
    std::string caption = version.comments + "  " + std::to_string(version.major) + "." +
                          std::to_string(version.minor) + "." + std::to_string(version.revision);
    if (version.releaseMarker.find("x.x.x") == std::string::npos) {
        caption = version.comments + "  " + ReleaseOfMarker(version.releaseMarker);
    }
    setWindowTitle(Q(caption));
}

void frmMain::ApplyAutoStart() {
    const auto& settings = context_.settings;
    mnuSetupAutoStartOrvelConsole_->setChecked(false);
    if (settings.AutoStart) {
        mnuSetupAutoStartOrvelConsole_->setChecked(true);
        context_.actions.AutoStartChanged(true);
        if (settings.Current == 0) {
            connection_->ReleaseConnectHold();
            cmdServerOrvelHost_Click();
        }
    } else {
        // Checked and unchecked again: a stale log-on entry is removed.
        context_.actions.AutoStartChanged(true);
        context_.actions.AutoStartChanged(false);
    }
}

void frmMain::mnuFileExit_Click() {
    if (connection_->Local()) {
        if (!connection_->ConsentToExit()) return;
        connection_->WithdrawLocalRegistration();
    }
    close();
}

// A close asked for by the system (SIGTERM, SIGHUP, SIGINT): the orderly
// close without a question or a box, since nobody may be there to answer.
void frmMain::CloseBySignal() {
    unattended_ = true;
    UnloadWaitWindow();
    connection_->StopRetrying();
    if (connection_->Local()) connection_->WithdrawLocalRegistration();
    close();
    Terminate();
}

void frmMain::closeEvent(QCloseEvent* event) {
    Unload();
    event->accept();
}

void frmMain::Unload() {
    if (unloaded_ || previousInstance_) return;
    unloaded_ = true;
    UnloadWaitWindow();
    connection_->StopRetrying();
    if (connection_->Remote()) {
        if (!unattended_) connection_->WarnOfForcedClose();
        connection_->WithdrawRegistrations();
    }
    context_.actions.WriteConfiguration();
}

void frmMain::Terminate() {
    if (terminated_ || previousInstance_) return;
    terminated_ = true;
    tmrTimer_->stop();
    UnloadWaitWindow();
    connection_->StopRetrying();
    connection_->WithdrawRegistrations();
    if (auto revero = context_.windows.FindWindowA("REVERO"); revero != 0) {
        context_.windows.PostMessageA(revero, platform::WM_CLOSE, 1, 1);
    }
    context_.actions.WriteConfiguration();
}

void frmMain::mnuFileRestoreSize_Click() {
    setWindowState(Qt::WindowNoState);
    sizing_.ResizeToTwips(kStandardSizeTwips, kStandardSizeTwips);
}

// ---------------------------------------------------------------- resize rules

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    sizing_.FrameMayHaveChanged();
    ApplyResizeRules();
}

void frmMain::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    sizing_.FrameMayHaveChanged();
    ApplyResizeRules();
}

void frmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) ApplyResizeRules();
}

// ---------------------------------------------------------------- themes

void frmMain::mnuSetupColorsIndex_Click(int index) {
    for (auto* entry : mnuSetupColorsIndex_) entry->setChecked(false);
    if (index >= 0 && index < kThemeCount) {
        mnuSetupColorsIndex_[static_cast<std::size_t>(index)]->setChecked(true);
    }
    context_.settings.ColorTheme = static_cast<std::int16_t>(index);
    ApplyColourTheme();
}

void frmMain::ApplyColourTheme() {
    auto& theme = context_.settings.ColorTheme;
    if (theme < 0 || theme >= kThemeCount) theme = kThemeBlue;
    const auto& table = context_.themes.tables[static_cast<std::size_t>(theme)];
    for (std::size_t i = 0; i < 7; ++i) currentColours_[i] = table[i];
    currentColours_[7] = 0;
    Paint(centre_, currentColours_[5], status::kWhite);
    FillApplicationPanel();
    RefreshServerList();
}

// ---------------------------------------------------------------- tool bar

void frmMain::tlbToolBar_ButtonClick(const QString& key) {
    // Captions compare without regard to ASCII case, whatever the locale.
    const std::string caption = tlbToolBar_->Press(key);
    auto is = [&caption](const char* name) {
        return platform::EqualIgnoringAsciiCase(caption, name);
    };
    auto showCategory = [&](std::int16_t category, const char* title) {
        fraServers_->hide();
        CurrentCategory_ = category;
        fraApplications_->setTitle(title);
        fraApplications_->show();
        FillApplicationPanel();
    };
    if (is("ORVEL APPLICATIONS")) {
        showCategory(0, "Orvel Applications");
    } else if (is("ORVEL TOOLS")) {
        showCategory(1, "Orvel Tools");
    } else if (is("ORVEL UTILITIES")) {
        showCategory(2, "Orvel Utilities");
    } else if (is("ORVEL SERVERS")) {
        fraApplications_->hide();
        RefreshServerList();
        fraServers_->show();
    } else {
        fraApplications_->hide();
        fraServers_->hide();
    }
}

// ---------------------------------------------------------------- configure menu

std::int16_t frmMain::CheckedConfigureEntry() const {
    for (std::size_t i = 0; i < mnuConfigureIndex_.size(); ++i) {
        if (mnuConfigureIndex_[i]->isChecked()) return static_cast<std::int16_t>(i);
    }
    return -1;
}

// Checks entry index alone (none when out of range).
void frmMain::SetConfigureEntry(int index) {
    for (std::size_t i = 0; i < mnuConfigureIndex_.size(); ++i) {
        mnuConfigureIndex_[i]->setChecked(static_cast<int>(i) == index);
    }
}

void frmMain::mnuConfigureIndex_Click(int index) {
    if (Connected() || connection_->State() == ConnectionState::Connecting) {
        context_.dialogs.MsgBox("Cannot Reconfigure this Computer while Connected to Servers",
                                vbCritical, "Configuration NOT allowed at this time");
        // The menu's own toggle is undone: the marks stay as they were.
        SetConfigureEntry(context_.settings.Current);
        return;
    }
    connection_->StopRetrying();
    if (index == 0) {
        SetConfigureEntry(index);
        cmdServerLocal_Click();
    } else if (connection_->ChooseRemoteServerForRole()) {
        SetConfigureEntry(index);
    } else {
        // A remote role needs a remote name: without one the role, its check
        // mark and the registrations stay as they were.
        SetConfigureEntry(context_.settings.Current);
        return;
    }
    context_.settings.Current = static_cast<std::int16_t>(index);
    context_.actions.ConfigureComputer(context_.settings.Current);
    RefreshServerSelection();
}

// ---------------------------------------------------------------- connection

void frmMain::cmdServerLocal_Click() {
    if (Connected() || connection_->State() == ConnectionState::Connecting) return;
    connection_->StopRetrying();
    context_.settings.LocalServerSelected = true;
    context_.settings.LocalServerName = "Local Server";
    RefreshServerSelection();
}

void frmMain::cmdServerRemote_Click() {
    if (Connected() || connection_->State() == ConnectionState::Connecting) return;
    connection_->StopRetrying();
    if (connection_->ChooseRemoteServer()) RefreshServerSelection();
}

void frmMain::cmdServerOrvelHost_Click() {
    if (connection_->ConnectHeld()) {
        fraServers_->HoldHostButton();
        return;
    }
    if (Connected()) {
        connection_->Disconnect();
    } else if (connection_->State() != ConnectionState::Connecting) {
        Connect();
    }
}

void frmMain::Connect() {
    context_.actions.ConfigureComputer(context_.settings.Current);
    connection_->Connect();
}

void frmMain::SetMenusDisconnected() {
    mnuConfigure_->menuAction()->setEnabled(context_.IsAdministrator);
    mnuTools_->menuAction()->setEnabled(true);
}

// Registering: the menus lock and the side frame names the server.
void frmMain::ShowConnectedSide() {
    const auto& settings = context_.settings;
    mnuConfigure_->menuAction()->setEnabled(false);
    mnuTools_->menuAction()->setEnabled(false);
    fraServers_->ShowSideTitle(settings.LocalServerSelected ? settings.LocalServerName
                                                            : settings.RemoteServerName);
}

// ---------------------------------------------------------------- server events

void frmMain::UnloadWaitWindow() {
    waitWindow_.reset();
}

void frmMain::OnServerMessage(std::int16_t intMessage, std::int16_t intVar,
                              const std::string& strVar) {
    if (intMessage != 0 || intVar != -1) {
        UnloadWaitWindow();
        return;
    }
    // A standing message is sent again while it stands: the window stays and
    // is only repainted when the text changed, so it does not flicker.
    messageResent_ = true;
    if (!waitWindow_) waitWindow_ = std::make_unique<frmMessage>(windowIcon());
    waitWindow_->SetMessage(strVar);
    waitWindow_->setWindowTitle("Message from Orvel Server");
    if (!waitWindow_->isVisible()) waitWindow_->show();
}

// ---------------------------------------------------------------- periodic poll

void frmMain::tmrTimer_Timer() {
    // A lost connection is seen within one tick; the operator's connection
    // is then tried again every retry interval.
    connection_->CheckForLoss();
    connection_->RetryIfDue();
    const bool connected = connection_->Local() != nullptr;
    if (connected) {
        staGeneral_->ShowConnected();
    } else {
        staGeneral_->ShowDisconnected();
    }
    mnuConfigure_->menuAction()->setEnabled(context_.IsAdministrator);
    mnuTools_->menuAction()->setEnabled(!connected);
    fraApplications_->ScanLaunchedTools();
    // A server message stays up until a tick finds it was not sent again
    // since the previous one: the server no longer stands for it.
    if (waitWindow_ && !messageResent_) UnloadWaitWindow();
    messageResent_ = false;
    switch (status::AdvanceTickCounter(tickCounter_)) {
        case status::PollPhase::DisconnectButton:
            fraServers_->RefreshDisconnectAllButton();
            break;
        case status::PollPhase::HostButtonRelease:
            fraServers_->ReleaseHostButton();
            break;
        case status::PollPhase::StopUnneeded:
            StopUnneededServers();
            break;
        case status::PollPhase::ActiveSet:
            staGeneral_->ShowActiveSet();
            break;
        case status::PollPhase::Idle:
            break;
    }
}

}  // namespace orvel::mainwindow
