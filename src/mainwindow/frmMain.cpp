#include "mainwindow/frmMain.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLayout>
#include <QMenuBar>
#include <QMoveEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "mainwindow/ApplicationPanel.h"
#include "mainwindow/WindowLayout.h"
#include "mainwindow/frmMessage.h"
#include "platform/WindowSnapshot.h"
#include "status/ComponentStatus.h"
#include "status/IdentityPanel.h"
#include "status/LinkedSuiteServer.h"
#include "status/ServerReferences.h"
#include "status/StatusPoll.h"

namespace orvel::mainwindow {

using platform::CR;
using platform::vbCritical;
using platform::vbDefaultButton2;
using platform::vbExclamation;
using platform::vbInformation;
using platform::vbQuestion;
using platform::vbYes;
using platform::vbYesNo;
using status::WinColour;

namespace {

constexpr int kTimerIntervalMs = 500;
constexpr auto kConnectHold = std::chrono::seconds(5);

const char* const kStatusKeys[] = {"keyTimeSource", "keyTime", "keyDate", "keyActiveSet",
                                   "keyClients"};

QLabel* PlainLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* Button(const char* name, const char* caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    return button;
}

std::string HostButtonTag(QPushButton* button) {
    return button->property("Tag").toString().toStdString();
}

}  // namespace

void StatePanel::mousePressEvent(QMouseEvent* event) {
    QLabel::mousePressEvent(event);
    emit clicked();
}

SplitRow MakeSplitRow(QWidget* parent, const char* rowName, const char* buttonName,
                      const char* panelName, int index) {
    SplitRow split;
    split.row = new QWidget(parent);
    split.row->setObjectName(QString("%1_%2").arg(rowName).arg(index));
    auto* rowLayout = new QHBoxLayout(split.row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    split.button = new QPushButton(split.row);
    split.button->setObjectName(QString("%1_%2").arg(buttonName).arg(index));
    split.panel = new StatePanel(split.row);
    split.panel->setObjectName(QString("%1_%2").arg(panelName).arg(index));
    split.panel->setTextFormat(Qt::PlainText);
    split.panel->setAlignment(Qt::AlignCenter);
    split.panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    split.panel->setMinimumWidth(120);
    rowLayout->addWidget(split.button, 3);
    rowLayout->addWidget(split.panel, 2);
    return split;
}

frmMain::frmMain(MainWindowContext& context, QWidget* parent)
    : QMainWindow(parent), context_(context) {
    setObjectName("frmMain");
    setWindowTitle(Q(context_.version.comments));
    centre_ = new QWidget(this);
    centre_->setObjectName("frmMainClient");
    setCentralWidget(centre_);
    BuildMenus();
    BuildToolBar();
    BuildServerFrame();
    BuildStatusBar();
    // The window may shrink to its minimum size even where the rows would
    // rather be larger: they are squeezed, as the lettering shrinks with them.
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    SetMinimumOuterSize();

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
    auto addAction = [this](QMenu* menu, const char* name, const char* caption) {
        auto* action = menu->addAction(caption);
        action->setObjectName(name);
        return action;
    };
    auto addMenu = [this](const char* name, const char* title) {
        auto* menu = menuBar()->addMenu(title);
        menu->setObjectName(name);
        return menu;
    };

    mnuFile_ = addMenu("mnuFile", "&File");
    connect(addAction(mnuFile_, "mnuFileRestoreSize", "&Restore Size"), &QAction::triggered, this,
            &frmMain::mnuFileRestoreSize_Click);
    connect(addAction(mnuFile_, "mnuFileExit", "E&xit"), &QAction::triggered, this,
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
    addAction(mnuSetup_, "mnuSetupFonts", "&Fonts");  // no action attached
    mnuSetupAutoStartOrvelConsole_ =
        addAction(mnuSetup_, "mnuSetupAutoStartOrvelConsole", "Auto &Start Orvel Console");
    mnuSetupAutoStartOrvelConsole_->setCheckable(true);
    connect(mnuSetupAutoStartOrvelConsole_, &QAction::triggered, this, [this](bool checked) {
        if (context_.autoStartChanged) context_.autoStartChanged(checked);
    });

    mnuTools_ = addMenu("mnuTools", "&Tools");
    connect(addAction(mnuTools_, "mnuToolsDComConfiguration", "&DCom Configuration"),
            &QAction::triggered, this, [this] {
                if (context_.dcomConfiguration) context_.dcomConfiguration();
            });
    connect(addAction(mnuTools_, "mnuToolsDComProtocol", "DCom &Protocol"), &QAction::triggered,
            this, [this] {
                if (context_.dcomProtocol) context_.dcomProtocol();
            });
    connect(addAction(mnuTools_, "mnuToolsCorvaneSettings", "Corvane Settings"),
            &QAction::triggered, this, [this] {
                if (context_.corvaneSettings) context_.corvaneSettings();
            });

    mnuHelp_ = addMenu("mnuHelp", "&Help");
    connect(addAction(mnuHelp_, "mnuHelpAbout", "&About"), &QAction::triggered, this, [this] {
        if (context_.showAbout) context_.showAbout();
    });
}

void frmMain::BuildToolBar() {
    tlbToolBar_ = addToolBar("Orvel");
    tlbToolBar_->setObjectName("tlbToolBar");
    tlbToolBar_->setMovable(false);
    struct ButtonRow {
        const char* key;
        const char* caption;
        const char* tip;
    };
    const ButtonRow buttons[] = {
        {"keyOrvelApplications", "Orvel Applications", "Click to show Orvel Applications"},
        {"keyOrvelTools", "Orvel Tools", "Click to Show Orvel Tools"},
        {"keyOrvelUtilities", "Orvel Utilities", "Click to Show Orvel Utilities"},
        {"keyOrvelServers", "Orvel Servers", "Click to Show Orvel Servers"},
        {"keyOrvelClients", "Orvel Clicents", "Click to show Orvel Clients"},
    };
    for (const auto& row : buttons) {
        auto* action = tlbToolBar_->addAction(row.caption);
        action->setObjectName(row.key);
        action->setToolTip(row.tip);
        action->setCheckable(QString(row.key) != "keyOrvelClients");
        const QString key = row.key;
        connect(action, &QAction::triggered, this, [this, key] { tlbToolBar_ButtonClick(key); });
    }
}

void frmMain::BuildServerFrame() {
    auto* outer = new QVBoxLayout(centre_);
    outer->setContentsMargins(16, 8, 16, 8);

    fraApplications_ = new ApplicationPanel(
        {context_.catalogue, context_.table, context_.windows, context_.fileSystem,
         context_.dialogs, context_.programStarter, context_.settings, local_, remote_,
         [this] { tlbToolBar_ButtonClick("keyOrvelServers"); }},
        centre_);
    fraApplications_->hide();
    outer->addWidget(fraApplications_);

    fraServers_ = new QGroupBox("Orvel Servers", centre_);
    fraServers_->setObjectName("fraServers");
    outer->addWidget(fraServers_);
    auto* serverLayout = new QVBoxLayout(fraServers_);

    // Identity panel.
    fraOrvelServer_ = new QGroupBox("Orvel File Server", fraServers_);
    fraOrvelServer_->setObjectName("fraOrvelServer");
    auto* identity = new QHBoxLayout(fraOrvelServer_);
    auto* labels = new QVBoxLayout;
    lblOrvelServerName_ = PlainLabel("lblOrvelServerName", fraOrvelServer_);
    lblOrvelServerOS_ = PlainLabel("lblOrvelServerOS", fraOrvelServer_);
    lblOrvelServerVersion_ = PlainLabel("lblOrvelServerVersion", fraOrvelServer_);
    for (QLabel* label : {lblOrvelServerName_, lblOrvelServerOS_, lblOrvelServerVersion_}) {
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(150);
        labels->addWidget(label);
    }
    identity->addLayout(labels);
    fraOrvelServerOS_ = new QGroupBox("Not Connected", fraOrvelServer_);
    fraOrvelServerOS_->setObjectName("fraOrvelServerOS");
    auto* buttons = new QGridLayout(fraOrvelServerOS_);
    cmdServerLocal_ = Button("cmdServerLocal", "File Server", fraOrvelServerOS_);
    cmdServerRemote_ = Button("cmdServerRemote", "Remote PC", fraOrvelServerOS_);
    cmdServerOrvelHost_ = Button("cmdServerOrvelHost", "Co&nnect", fraOrvelServerOS_);
    cmdServerConnect_ = Button("cmdServerConnect", "&Connect ALL", fraOrvelServerOS_);
    cmdServerDisconnect_ = Button("cmdServerDisconnect", "&Disconnect ALL", fraOrvelServerOS_);
    buttons->addWidget(cmdServerLocal_, 0, 0);
    buttons->addWidget(cmdServerRemote_, 0, 1);
    buttons->addWidget(cmdServerOrvelHost_, 1, 0, 1, 2);
    buttons->addWidget(cmdServerConnect_, 2, 0);
    buttons->addWidget(cmdServerDisconnect_, 2, 1);
    identity->addWidget(fraOrvelServerOS_);
    serverLayout->addWidget(fraOrvelServer_);
    connect(cmdServerLocal_, &QPushButton::clicked, this, &frmMain::cmdServerLocal_Click);
    connect(cmdServerRemote_, &QPushButton::clicked, this, &frmMain::cmdServerRemote_Click);
    connect(cmdServerOrvelHost_, &QPushButton::clicked, this, &frmMain::cmdServerOrvelHost_Click);
    connect(cmdServerConnect_, &QPushButton::clicked, this, &frmMain::cmdServerConnect_Click);
    connect(cmdServerDisconnect_, &QPushButton::clicked, this, &frmMain::cmdServerDisconnect_Click);

    // Twenty rows, two columns of ten.
    auto* rows = new QGridLayout;
    for (int i = 0; i < suite::kComponentSlots; ++i) {
        auto [row, button, panel] =
            MakeSplitRow(fraServers_, "spltServers", "cmdServers", "pnlServers", i);
        rows->addWidget(row, i % 10, i / 10);
        spltServers_[static_cast<std::size_t>(i)] = row;
        cmdServers_[static_cast<std::size_t>(i)] = button;
        pnlServers_[static_cast<std::size_t>(i)] = panel;
        connect(button, &QPushButton::clicked, this, [this, i] { cmdServers_Click(i); });
        connect(panel, &StatePanel::clicked, this, [this, i] { cmdServers_Click(i); });
    }
    serverLayout->addLayout(rows);
}

void frmMain::BuildStatusBar() {
    staGeneral_ = new QStatusBar(this);
    staGeneral_->setObjectName("staGeneral");
    setStatusBar(staGeneral_);
    const char* texts[] = {"Server", "(Time)", "(Date)", "(Orvel Active Set)", "Clients"};
    const char* tips[] = {"Server Name", "Curent Time", "Current Date", "Orvel Active Set",
                          "Remote Clients Connected"};
    for (int i = 0; i < 5; ++i) {
        auto* panel = PlainLabel(kStatusKeys[i], staGeneral_);
        panel->setText(texts[i]);
        panel->setToolTip(tips[i]);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setMinimumWidth(90);
        staGeneral_->addWidget(panel, i == 3 ? 2 : 1);
    }
}

QLabel* frmMain::StatusPanel(const char* key) const {
    return staGeneral_->findChild<QLabel*>(key, Qt::FindDirectChildrenOnly);
}

void frmMain::SetStatusPanel(const char* key, const std::string& text, const std::string& toolTip) {
    QLabel* panel = StatusPanel(key);
    panel->setText(Q(text));
    panel->setToolTip(PlainTip(toolTip));
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

    switch (settings.WindowState) {
        case 1:
            setWindowState(Qt::WindowMinimized);
            break;
        case 2:
            setWindowState(Qt::WindowMaximized);
            break;
        default:
            settings.WindowState = 0;
            setWindowState(Qt::WindowNoState);
            break;
    }
    const auto& version = context_.version;
    std::string caption = version.comments + "  " + std::to_string(version.major) + "." +
                          std::to_string(version.minor) + "." + std::to_string(version.revision);
    ResizeToTwips(kStandardSizeTwips, kStandardSizeTwips);
    const auto& marker = version.releaseMarker;
    if (marker.find("x.x.x") == std::string::npos) {
        const auto colon = marker.find(':');
        caption = version.comments + "  " +
                  (colon == std::string::npos ? marker : marker.substr(colon + 1));
    }
    setWindowTitle(Q(caption));
    fraOrvelServerOS_->setTitle("Not Connected");
    for (int i = 0; i < suite::kComponentSlots; ++i) {
        cmdServers_[static_cast<std::size_t>(i)]->setText(
            Q(context_.table[static_cast<std::size_t>(i)].strDisplayName));
    }
    CurrentCategory_ = 0;
    tlbToolBar_ButtonClick("keyOrvelServers");

    // A stored remote name that is not a host name or address counts as empty.
    if (!status::IsValidServerName(settings.RemoteServerName)) settings.RemoteServerName.clear();

    for (auto* entry : mnuConfigureIndex_) entry->setChecked(false);
    if (settings.Current >= 0 && settings.Current < 3) {
        mnuConfigureIndex_[static_cast<std::size_t>(settings.Current)]->setChecked(true);
    }
    if (context_.configureComputer) context_.configureComputer(settings.Current);
    settings.LocalServerName = "Local Server";

    if (context_.showProcessVerification) context_.showProcessVerification();

    mnuSetupAutoStartOrvelConsole_->setChecked(false);
    if (settings.AutoStart) {
        mnuSetupAutoStartOrvelConsole_->setChecked(true);
        if (context_.autoStartChanged) context_.autoStartChanged(true);
        if (settings.Current == 0) {
            connectHoldUntil_ = {};
            cmdServerOrvelHost_Click();
        }
    } else if (context_.autoStartChanged) {
        // Checked and unchecked again: a stale log-on entry is removed.
        context_.autoStartChanged(true);
        context_.autoStartChanged(false);
    }
    FillApplicationPanel();
    RefreshServerList();
    loaded_ = true;
    return true;
}

void frmMain::mnuFileExit_Click() {
    if (!local_) {
        close();
        return;
    }
    if (context_.settings.LocalServerSelected && OtherClientCount() != 0) {
        const int answer = context_.dialogs.MsgBox(
            "This Server has " + std::to_string(OtherClientCount()) +
                " Client(s) connected, do you want to close this application?" + CR + CR +
                "The Remote Client(s) will NOT be disconnected from the Orvel_Server...",
            vbYesNo + vbQuestion + vbDefaultButton2, "Disconnect Server");
        if (answer != vbYes) return;
    }
    if (launcher::FindRunningApplication(context_.catalogue, context_.windows) > 0) {
        const auto index = launcher::FindRunningApplication(context_.catalogue, context_.windows);
        const auto& entry = context_.catalogue[static_cast<std::size_t>(index)];
        context_.dialogs.MsgBox(std::string("Cannot Exit the Orvel Console") + CR + CR + "The '" +
                                    entry.DisplayName + "' is still Running" + CR + CR +
                                    "Close Application then Exit",
                                vbCritical, "Cannot Exit Orvel Control Center");
        context_.windows.ShowWindow(entry.WindowHandle, platform::SW_SHOWNORMAL);
        context_.windows.BringWindowToTop(entry.WindowHandle);
        return;
    }
    if (local_) local_->DisconnectClient();
    localClientNumber_ = 0;
    ReleaseReference(local_);
    close();
}

void frmMain::closeEvent(QCloseEvent* event) {
    Unload();
    event->accept();
}

void frmMain::Unload() {
    if (unloaded_ || previousInstance_) return;
    unloaded_ = true;
    UnloadWaitWindow();
    if (remote_) {
        auto remoteCount = remote_->GetClientCount();
        if (remoteClientNumber_ == 1 && remoteCount && *remoteCount > 1) {
            const int localCount = local_ ? local_->GetClientCount().value_or(1) : 1;
            context_.dialogs.MsgBox(
                "This Server has " + std::to_string(localCount - 1) + " Client(s) connected." + CR +
                    CR + "You are FORCING close of this application..." + CR + CR +
                    "The Remote Client(s) will NOT be disconnected from the Orvel_Server...",
                vbCritical, "Disconnecting Server");
        }
        const auto index = launcher::FindRunningApplication(context_.catalogue, context_.windows);
        if (index > 0) {
            context_.dialogs.MsgBox(
                std::string("FORCING Exit !") + CR + CR + "'" +
                    context_.catalogue[static_cast<std::size_t>(index)].DisplayName +
                    "' is still Running" + CR + CR,
                vbInformation, "Exiting Orvel Control Center...");
        }
        WithdrawRegistrations();
        status::RefreshServerReferences(context_.table, local_, remote_);
    }
    if (context_.writeConfiguration) context_.writeConfiguration();
}

void frmMain::Terminate() {
    if (terminated_ || previousInstance_) return;
    terminated_ = true;
    tmrTimer_->stop();
    UnloadWaitWindow();
    WithdrawRegistrations();
    if (auto revero = context_.windows.FindWindowA("REVERO"); revero != 0) {
        context_.windows.PostMessageA(revero, platform::WM_CLOSE, 1, 1);
    }
    status::RefreshServerReferences(context_.table, local_, remote_);
    if (context_.writeConfiguration) context_.writeConfiguration();
}

void frmMain::mnuFileRestoreSize_Click() {
    setWindowState(Qt::WindowNoState);
    ResizeToTwips(kStandardSizeTwips, kStandardSizeTwips);
}

// ---------------------------------------------------------------- resize rules

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    ApplyResizeRules();
}

void frmMain::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    ApplyResizeRules();
}

void frmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) ApplyResizeRules();
}

// The outer size (frame included) in twips, as the settings keep it.
void frmMain::ResizeToTwips(int widthTwips, int heightTwips) {
    const QSize frame = frameGeometry().size() - size();
    resize(TwipsToPixels(widthTwips, logicalDpiX()) - frame.width(),
           TwipsToPixels(heightTwips, logicalDpiY()) - frame.height());
    // A hidden window gets its resize event only when shown: the settings
    // and the lettering follow the new size now.
    if (!isVisible()) ApplyResizeRules();
}

// The minimum holds for the outer window; the frame is known once shown.
void frmMain::SetMinimumOuterSize() {
    const QSize frame = frameGeometry().size() - size();
    const QSize minimum(TwipsToPixels(kMinimumSizeTwips, logicalDpiX()) - frame.width(),
                        TwipsToPixels(kMinimumSizeTwips, logicalDpiY()) - frame.height());
    if (minimumSize() != minimum) setMinimumSize(minimum);
}

void frmMain::ApplyResizeRules() {
    if (applyingResizeRules_) return;
    applyingResizeRules_ = true;
    SetMinimumOuterSize();
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();
    const Qt::WindowStates qtState = windowState();
    const std::int16_t state = (qtState & Qt::WindowMinimized) ? kStateMinimised
                               : (qtState & (Qt::WindowMaximized | Qt::WindowFullScreen))
                                   ? kStateMaximised
                                   : kStateNormal;
    const QRect frame = frameGeometry();
    const TwipsGeometry now{PixelsToTwips(frame.x(), dpiX), PixelsToTwips(frame.y(), dpiY),
                            PixelsToTwips(frame.width(), dpiX),
                            PixelsToTwips(frame.height(), dpiY)};
    RecordWindowPlacement(context_.settings, state, now);
    const ResizeOutcome outcome = mainwindow::ApplyResizeRules(state, now);
    if (outcome.geometry.top != now.top) move(frame.x(), 0);
    if (outcome.geometry.width != now.width || outcome.geometry.height != now.height) {
        ResizeToTwips(outcome.geometry.width, outcome.geometry.height);
    }
    if (outcome.geometry != now) {
        // Record where the window went, not only where it was asked to be.
        const QRect placed = frameGeometry();
        RecordWindowPlacement(
            context_.settings, state,
            {PixelsToTwips(placed.x(), dpiX), PixelsToTwips(placed.y(), dpiY),
             PixelsToTwips(placed.width(), dpiX), PixelsToTwips(placed.height(), dpiY)});
    }
    if (outcome.letteringPoints != letteringPoints_) {
        letteringPoints_ = outcome.letteringPoints;
        for (auto* widget : findChildren<QWidget*>()) {
            const QString name = widget->objectName();
            if (name.startsWith("pnlServers_") || name.startsWith("cmdServers_") ||
                name.startsWith("pnlApplication_") || name.startsWith("cmdApplication_")) {
                QFont font = widget->font();
                font.setPointSizeF(letteringPoints_);
                widget->setFont(font);
            }
        }
    }
    applyingResizeRules_ = false;
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
    for (const char* name :
         {"keyOrvelApplications", "keyOrvelTools", "keyOrvelUtilities", "keyOrvelServers"}) {
        for (auto* action : tlbToolBar_->actions()) {
            if (action->objectName() == name) action->setChecked(false);
        }
    }
    QAction* clicked = nullptr;
    for (auto* action : tlbToolBar_->actions()) {
        if (action->objectName() == key) clicked = action;
    }
    const QString caption = clicked ? clicked->text().toUpper() : QString();
    auto showCategory = [&](std::int16_t category, const char* title) {
        clicked->setChecked(true);
        fraServers_->hide();
        CurrentCategory_ = category;
        fraApplications_->setTitle(title);
        fraApplications_->show();
        FillApplicationPanel();
    };
    if (caption == "ORVEL APPLICATIONS") {
        showCategory(0, "Orvel Applications");
    } else if (caption == "ORVEL TOOLS") {
        showCategory(1, "Orvel Tools");
    } else if (caption == "ORVEL UTILITIES") {
        showCategory(2, "Orvel Utilities");
    } else if (caption == "ORVEL SERVERS") {
        clicked->setChecked(true);
        fraApplications_->hide();
        RefreshServerList();
        fraServers_->show();
    } else {
        fraApplications_->hide();
        fraServers_->hide();
    }
}

// ---------------------------------------------------------------- launcher

void frmMain::FillApplicationPanel() {
    fraApplications_->FillApplicationPanel(CurrentCategory_, currentColours_);
}

void frmMain::RefreshApplicationState(int index) {
    fraApplications_->RefreshApplicationState(index);
}

void frmMain::cmdApplication_Click(int slot) {
    fraApplications_->cmdApplication_Click(slot);
}

// ---------------------------------------------------------------- configure menu

std::int16_t frmMain::CheckedConfigureEntry() const {
    for (std::size_t i = 0; i < mnuConfigureIndex_.size(); ++i) {
        if (mnuConfigureIndex_[i]->isChecked()) return static_cast<std::int16_t>(i);
    }
    return -1;
}

void frmMain::mnuConfigureIndex_Click(int index) {
    if (Connected()) {
        context_.dialogs.MsgBox("Cannot Reconfigure this Computer while Connected to Servers",
                                vbCritical, "Configuration NOT allowed at this time");
        // The menu's own toggle is undone: the marks stay as they were.
        const auto current = context_.settings.Current;
        for (std::size_t i = 0; i < mnuConfigureIndex_.size(); ++i) {
            mnuConfigureIndex_[i]->setChecked(static_cast<int>(i) == current);
        }
        return;
    }
    for (auto* entry : mnuConfigureIndex_) entry->setChecked(false);
    if (index >= 0 && index < 3)
        mnuConfigureIndex_[static_cast<std::size_t>(index)]->setChecked(true);
    if (index == 0) {
        cmdServerLocal_Click();
    } else {
        cmdServerRemote_Click();
    }
    context_.settings.Current = static_cast<std::int16_t>(index);
    if (context_.configureComputer) context_.configureComputer(context_.settings.Current);
    RefreshServerSelection();
}

// ---------------------------------------------------------------- connection manager

bool frmMain::Connected() {
    return status::RefreshServerReferences(context_.table, local_, remote_);
}

bool frmMain::SelectedSideHasName() const {
    const auto& settings = context_.settings;
    return settings.LocalServerSelected ? !settings.LocalServerName.empty()
                                        : !settings.RemoteServerName.empty();
}

std::int16_t frmMain::OtherClientCount() {
    if (!local_) return 0;
    auto count = local_->GetClientCount();
    // A count the server could not give is no reason to hold the operator back.
    if (!count) return 0;
    return static_cast<std::int16_t>(*count - (context_.settings.LocalServerSelected ? 2 : 1));
}

void frmMain::cmdServerLocal_Click() {
    if (Connected()) return;
    context_.settings.LocalServerSelected = true;
    context_.settings.LocalServerName = "Local Server";
    RefreshServerSelection();
}

void frmMain::cmdServerRemote_Click() {
    if (Connected()) return;
    auto& settings = context_.settings;
    QString answer = Q(context_.dialogs.InputBox("Enter the Corvane Servername or IP Address",
                                                 "Remote Server Name", settings.RemoteServerName))
                         .toUpper();
    const std::string name = answer.toStdString();
    if (name.empty()) {
        cmdServerLocal_Click();
        return;
    }
    if (!status::IsValidServerName(name)) {
        context_.dialogs.MsgBox("'" + name + "' is not a valid server name or IP address." + CR +
                                    CR +
                                    "Enter a computer name (letters, digits, hyphens and dots)" +
                                    CR + "      or an IP address such as 192.168.1.10.",
                                vbExclamation, "Remote Server Name");
        return;
    }
    settings.LocalServerSelected = false;
    settings.RemoteServerName = name;
    RefreshServerSelection();
}

void frmMain::cmdServerOrvelHost_Click() {
    if (connectHoldUntil_ > context_.clock.Monotonic()) {
        cmdServerOrvelHost_->setEnabled(false);
        return;
    }
    if (Connected()) {
        Disconnect();
    } else {
        Connect();
    }
}

void frmMain::ReportDComError(const platform::RuntimeError& error) {
    const std::string p = context_.version.comments;
    std::string reason;
    switch (error.number) {
        case platform::kErrPermissionDenied:
            reason = "'Access is Denied'";
            break;
        case platform::kErrObjectNotSet:
        case platform::kErrCannotCreateObject:
            reason = "'Cannot Start DCom'";
            break;
        default:
            reason = "'General DCom Error'";
            break;
    }
    const std::string help = std::string() + CR + CR + "A possible reason is that the " + p +
                             " on the" + CR + "      Orvel File Server is not running. Start the " +
                             p + " on the" + CR + "      Orvel File Server and try again..." + CR +
                             CR + "If this does not correct the problem" + CR +
                             "      Check the DCom Configuration on the Client/Server." + CR + CR +
                             "NOTE: If the Orvel File Server is a WIN95/98 machine, you MUST " +
                             CR + "      be running the " + p + " application." + CR + CR +
                             "NOTE: If the Server is an NT/2000 machine, you may need" + CR +
                             "      to configure the DCom Remote Access Permissions." + CR;
    context_.dialogs.MsgBox(reason + help + CR + "(" + error.description + ")", vbCritical,
                            "DCom Error: " + std::to_string(error.number));
}

bool frmMain::CreateReferences() {
    const bool localMode = context_.settings.LocalServerSelected;
    auto local = context_.servers.CreateLocal();
    if (!local) {
        // The second creation would fail the same way: one box is enough.
        ReportDComError(local.error());
        return false;
    }
    auto remote = localMode ? context_.servers.CreateLocal()
                            : context_.servers.CreateRemote(context_.settings.RemoteServerName);
    if (!remote) {
        ReportDComError(remote.error());
        return false;
    }
    if (localMode) {
        // Two instances of one server: a hung server is given up once for both.
        auto fate = std::make_shared<status::SharedFate>();
        local_ = std::make_shared<status::LinkedSuiteServer>(*local, fate);
        remote_ = std::make_shared<status::LinkedSuiteServer>(*remote, fate);
    } else {
        local_ = std::make_shared<status::LinkedSuiteServer>(
            *local, std::make_shared<status::SharedFate>());
        remote_ = std::make_shared<status::LinkedSuiteServer>(
            *remote, std::make_shared<status::SharedFate>());
    }
    QPointer<frmMain> self(this);
    for (std::int16_t kind : {suite::kHostLocal, suite::kHostRemote}) {
        suiteclient::SuiteServerEvents events;
        events.serverChange = [self, kind](std::int16_t index) {
            if (self) self->OnServerChange(kind, index);
        };
        events.message = [self](std::int16_t message, std::int16_t var, const std::string& text) {
            if (self) self->OnServerMessage(message, var, text);
        };
        (kind == suite::kHostLocal ? local_ : remote_)->SetEventHandlers(std::move(events));
    }
    return true;
}

void frmMain::ReleaseReference(std::shared_ptr<suiteclient::SuiteServer>& reference) {
    if (!reference) return;
    reference->SetEventHandlers({});
    reference.reset();
}

void frmMain::WithdrawRegistrations() {
    // A withdrawal that fails needs no box: the server drops the registration
    // of an instance whose connection is gone.
    if (local_) local_->DisconnectClient();
    localClientNumber_ = 0;
    ReleaseReference(local_);
    if (remote_) remote_->DisconnectClient();
    remoteClientNumber_ = 0;
    ReleaseReference(remote_);
    status::RefreshServerReferences(context_.table, local_, remote_);
}

void frmMain::SetMenusDisconnected() {
    mnuConfigure_->menuAction()->setEnabled(context_.IsAdministrator);
    mnuTools_->menuAction()->setEnabled(true);
}

void frmMain::Connect() {
    auto& settings = context_.settings;
    if (context_.configureComputer) context_.configureComputer(settings.Current);
    if (!SelectedSideHasName()) {
        context_.dialogs.MsgBox("You must select a LOCAL or REMOTE Server before connecting",
                                vbExclamation, "Select LOCAL or REMOTE Server");
        return;
    }
    lblOrvelServerOS_->setText("Connecting...");
    Paint(lblOrvelServerOS_, status::kYellow, status::kBlack);

    bool connected = CreateReferences() && Connected();
    if (!connected) {
        ReleaseReference(local_);
        ReleaseReference(remote_);
    } else {
        mnuConfigure_->menuAction()->setEnabled(false);
        mnuTools_->menuAction()->setEnabled(false);
        fraOrvelServerOS_->setTitle(
            Q(settings.LocalServerSelected ? settings.LocalServerName : settings.RemoteServerName));
        auto localNumber = local_->ConnectClient("ClientName");
        if (localNumber) localClientNumber_ = *localNumber;
        auto remoteNumber = localNumber ? remote_->ConnectClient("ClientName") : localNumber;
        if (remoteNumber) remoteClientNumber_ = *remoteNumber;
        const bool registered = localNumber && remoteNumber;
        if (!registered) {
            // Without a registration on both servers the console is not connected:
            // withdraw what was registered and leave as a disconnection does.
            ReportDComError((localNumber ? remoteNumber : localNumber).error());
        }
        if (registered && settings.LocalServerSelected) {
            for (int i = 0; i < suite::kComponentSlots; ++i) {
                const auto& entry = context_.table[static_cast<std::size_t>(i)];
                if (entry.intStartMode != suite::kStartWithLocalConnection) continue;
                auto target = ReferenceOfKind(entry.intHostKind);
                if (!target) continue;
                if (auto result = target->StartComponent(static_cast<std::int16_t>(i)); !result) {
                    ReportDComError(result.error());
                }
            }
            cmdServerRemote_->setEnabled(false);
        } else if (!registered || remoteClientNumber_ == 1) {
            if (registered) {
                context_.dialogs.MsgBox(
                    std::string("A Orvel Host application is NOT running on the server !") + CR +
                        CR +
                        "You CANNOT run a REMOTE session without a Orvel Host running on the "
                        "server...",
                    vbCritical, "");
            }
            WithdrawRegistrations();
            SetMenusDisconnected();
            RefreshServerPanel();
            RefreshServerList();
            return;
        } else {
            cmdServerLocal_->setEnabled(false);
            RefreshServerPanel();
            context_.dialogs.DoEvents();
            for (int i = 0; i < suite::kComponentSlots && local_; ++i) {
                const auto& entry = context_.table[static_cast<std::size_t>(i)];
                if (entry.intStartMode != suite::kStartWithRemoteConnection ||
                    entry.intHostKind != suite::kHostLocal) {
                    continue;
                }
                if (auto result = local_->StartComponent(static_cast<std::int16_t>(i)); !result) {
                    ReportDComError(result.error());
                }
            }
        }
    }

    // The active set is asked only of a server that is there.
    if (remote_ && Connected()) {
        auto activeSet = remote_->GetActiveSet();
        if (!activeSet) {
            ReportDComError(activeSet.error());
        } else if (*activeSet == "No Active Set") {
            context_.dialogs.MsgBox(
                std::string("There currently is no Active Set on the Orvel File Server") + CR + CR +
                    "Many Orvel Applications will not run properly" + CR +
                    "without an Active Set !" + CR + CR + "Run the Corvane Compiler and/or" + CR +
                    "Control Center to make your selection.",
                vbExclamation, "No Active CORVANE Set Selected");
        }
    }
    if (!Connected()) SetMenusDisconnected();
    RefreshServerPanel();
    RefreshServerList();
    Connected();
}

void frmMain::CloseOrShowRunningTool(bool close) {
    const auto index = launcher::FindRunningApplication(context_.catalogue, context_.windows);
    if (index <= 0) return;
    const auto window = context_.catalogue[static_cast<std::size_t>(index)].WindowHandle;
    if (close) {
        context_.windows.PostMessageA(window, platform::WM_CLOSE, 1, 1);
    } else {
        context_.windows.ShowWindow(window, platform::SW_SHOWNORMAL);
        context_.windows.BringWindowToTop(window);
    }
}

void frmMain::Disconnect() {
    auto& settings = context_.settings;
    if (settings.LocalServerSelected && OtherClientCount() != 0) {
        const int count = local_ ? local_->GetClientCount().value_or(2) - 2 : 0;
        const int answer = context_.dialogs.MsgBox(
            "This Server has " + std::to_string(count) +
                " Client(s) connected, do you want to Disconnect?" + CR + CR +
                "The Remote Client(s) will NOT be disconnected from the Orvel_Server...",
            vbYesNo + vbQuestion + vbDefaultButton2, "Disconnect Server");
        if (answer != vbYes) return;
    }
    if (const auto index = launcher::FindRunningApplication(context_.catalogue, context_.windows);
        index > 0) {
        const int answer = context_.dialogs.MsgBox(
            std::string("Cannot Disconnect !") + CR + CR + "'" +
                context_.catalogue[static_cast<std::size_t>(index)].DisplayName +
                "' is still Running" + CR + CR + "Do you want to Close the Application?",
            vbYesNo + vbCritical, "Cannot Disconnect Orvel Server");
        CloseOrShowRunningTool(answer == vbYes);
        return;
    }
    WithdrawRegistrations();
    SetMenusDisconnected();
    launcher::CheckApplicationFiles(context_.catalogue, context_.fileSystem);
    cmdServerLocal_->setEnabled(true);
    cmdServerRemote_->setEnabled(true);
    connectHoldUntil_ = context_.clock.Monotonic() + kConnectHold;
    RefreshServerPanel();
    RefreshServerList();
    Connected();
}

// ---------------------------------------------------------------- identity panel

void frmMain::RefreshServerNameLabel() {
    if (!remote_) {
        lblOrvelServerName_->hide();
        lblOrvelServerName_->setText("");
        lblOrvelServerName_->setToolTip("Server Name");
        Paint(lblOrvelServerName_, status::kRed, status::kWhite);
        return;
    }
    lblOrvelServerName_->show();
    if (auto name = remote_->GetServerName()) lblOrvelServerName_->setText(Q(*name));
    Paint(lblOrvelServerName_, status::kBlack, status::kCyan);
}

void frmMain::RefreshServerOSLabel() {
    lblOrvelServerOS_->show();
    if (!remote_) {
        lblOrvelServerOS_->setText("Not Connected");
        lblOrvelServerOS_->setToolTip("Server Operating System");
        Paint(lblOrvelServerOS_, status::kRed, status::kWhite);
        return;
    }
    Paint(lblOrvelServerOS_, status::kBlack, status::kCyan);
    auto platformId = remote_->GetPlatformId();
    if (!platformId) return;
    std::int16_t major = 0, minor = 0, build = 0;
    if (*platformId == 2) {
        auto ma = remote_->GetOSMajorVersion();
        auto mi = remote_->GetOSMinorVersion();
        auto bu = remote_->GetOSBuild();
        if (!ma || !mi || !bu) return;
        major = *ma;
        minor = *mi;
        build = *bu;
    }
    lblOrvelServerOS_->setText(Q(status::ServerOsCaption(*platformId, major, minor, build)));
}

void frmMain::RefreshServerVersionLabel() {
    if (!remote_) {
        lblOrvelServerVersion_->hide();
        lblOrvelServerVersion_->setText("");
        lblOrvelServerVersion_->setToolTip("Server Version");
        Paint(lblOrvelServerVersion_, status::kRed, status::kWhite);
        return;
    }
    auto version = remote_->GetServerVersion();
    if (!version) return;
    lblOrvelServerVersion_->show();
    lblOrvelServerVersion_->setText(Q(status::ReleaseText(*version)));
    Paint(lblOrvelServerVersion_, status::kBlack, status::kCyan);
}

void frmMain::RefreshServerPanel() {
    fraOrvelServer_->setTitle("Orvel File Server");
    Paint(fraOrvelServer_, currentColours_[1], currentColours_[1] ^ 0xCFCFCFu);
    Paint(fraOrvelServerOS_, currentColours_[1], currentColours_[1] ^ 0xCFCFCFu);
    cmdServerConnect_->setText("&Connect ALL");
    cmdServerDisconnect_->setText("&Disconnect ALL");
    if (!local_) {
        cmdServerConnect_->setEnabled(false);
        cmdServerDisconnect_->setEnabled(false);
    } else {
        cmdServerConnect_->setEnabled(true);
        if (launcher::FindRunningApplication(context_.catalogue, context_.windows) > 0) {
            cmdServerDisconnect_->setEnabled(false);
        } else if (!context_.settings.LocalServerSelected) {
            cmdServerDisconnect_->setEnabled(false);
        } else if (remoteClientNumber_ == 1) {
            if (auto count = local_->GetClientCount()) cmdServerDisconnect_->setEnabled(*count < 2);
        }
    }
    RefreshServerSelection();
}

void frmMain::RefreshServerSelection() {
    const auto& settings = context_.settings;
    RefreshServerNameLabel();
    RefreshServerOSLabel();
    RefreshServerVersionLabel();
    const bool connected = Connected();
    fraOrvelServerOS_->setTitle(Q(status::SelectionCaption(connected, settings.LocalServerSelected,
                                                           settings.RemoteServerName)));
    const auto role = CheckedConfigureEntry();
    cmdServerLocal_->setText("File Server");
    cmdServerLocal_->setEnabled(role == 0);
    if (role == 1) {
        cmdServerRemote_->setText("Remote PC");
        cmdServerRemote_->setEnabled(true);
    } else if (role == 2) {
        cmdServerRemote_->setText("Extended PC");
        cmdServerRemote_->setEnabled(true);
    } else {
        cmdServerRemote_->setText("Remote PC");
        cmdServerRemote_->setEnabled(false);
    }
    if (connected) {
        cmdServerOrvelHost_->setEnabled(true);
        cmdServerOrvelHost_->setText("Di&sconnect");
        cmdServerOrvelHost_->setToolTip("Disconnect from Orvel Server");
        cmdServerOrvelHost_->setProperty("Tag", "True");
    } else {
        cmdServerOrvelHost_->setToolTip("Connect to Orvel Server");
        cmdServerOrvelHost_->setText("Co&nnect");
        const bool named = SelectedSideHasName();
        cmdServerOrvelHost_->setEnabled(named);
        cmdServerOrvelHost_->setProperty("Tag", named ? "True" : "False");
    }
    if (connectHoldUntil_ > context_.clock.Monotonic()) cmdServerOrvelHost_->setEnabled(false);
}

// ---------------------------------------------------------------- server rows

std::shared_ptr<suiteclient::SuiteServer> frmMain::ReferenceOfKind(std::int16_t hostKind) const {
    if (hostKind == suite::kHostLocal) return local_;
    if (hostKind == suite::kHostRemote) return remote_;
    return nullptr;
}

void frmMain::ShowComponentStatus(int index, std::int32_t code,
                                  const platform::RuntimeError& callError,
                                  const std::string* knownName) {
    if (index < 0 || index >= suite::kComponentSlots) return;
    const auto slot = static_cast<std::size_t>(index);
    const auto& entry = context_.table[slot];
    code = status::DisplayCode(code, context_.settings.LocalServerSelected, entry.intHostKind);
    std::string name;
    if (knownName != nullptr) {
        name = *knownName;
    } else if (entry.objServer) {
        name = entry.objServer->GetComponentName(static_cast<std::int16_t>(index)).value_or("");
    }
    const auto paint =
        status::PaintForStatus(code, name, context_.settings.RemoteServerName, callError);
    auto* row = spltServers_[slot];
    auto* panel = pnlServers_[slot];
    row->setVisible(paint.rowVisible);
    row->setEnabled(paint.rowEnabled);
    panel->setEnabled(paint.panelEnabled);
    panel->setText(Q(paint.caption));
    panel->setToolTip(PlainTip(paint.toolTip));
    Paint(panel, paint.back, paint.text);
}

void frmMain::PaintStatusOutcome(int index, const platform::Outcome<std::int32_t>& status,
                                 const std::string* knownName) {
    if (status) {
        ShowComponentStatus(index, *status, {}, knownName);
    } else {
        ShowComponentStatus(index, status::kStatusDComError, status.error(), knownName);
    }
}

void frmMain::RefreshServerList() {
    fraServers_->setTitle("Orvel Servers");
    Paint(fraServers_, currentColours_[4], currentColours_[4] ^ 0xC0C0C0u);
    RefreshServerPanel();
    for (int i = 0; i < suite::kComponentSlots; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        const auto& entry = context_.table[slot];
        auto* button = cmdServers_[slot];
        auto* panel = pnlServers_[slot];
        button->setText(Q(entry.strDisplayName));
        Paint(button, currentColours_[1], currentColours_[1] ^ 0xCFCFCFu);
        auto server = ReferenceOfKind(entry.intHostKind);
        if (!server) {
            button->setEnabled(false);
            button->setText("");
            panel->setText("");
            panel->setToolTip("");
            Paint(panel, status::kBlack, status::kCyan);
            spltServers_[slot]->setVisible(true);
            continue;
        }
        button->setEnabled(true);
        auto name = server->GetComponentName(static_cast<std::int16_t>(i));
        if (name) button->setText(Q(*name));
        // The row's paint needs the name from the entry's own server: when
        // that is the server just asked, its answer serves again.
        const std::string knownName = name.value_or("");
        PaintStatusOutcome(i, server->GetComponentStatus(static_cast<std::int16_t>(i)),
                           server == entry.objServer ? &knownName : nullptr);
        if (panel->text() == "Invalid Server") button->setEnabled(false);
    }
}

void frmMain::cmdServers_Click(int index) {
    if (index < 0 || index >= suite::kComponentSlots || !Connected()) return;
    const auto slot = static_cast<std::size_t>(index);
    auto& entry = context_.table[slot];
    auto server = entry.objServer;
    if (!server) return;
    const auto i16 = static_cast<std::int16_t>(index);
    auto code = server->GetComponentStatus(i16);
    if (code && *code == status::kStatusOffLine) {
        if (auto started = server->StartComponent(i16); started && *started == 1) {
            entry.blnKeepRunning = true;
        }
    } else if (code && *code == status::kStatusRunning) {
        if (launcher::FindRunningApplication(context_.catalogue, context_.windows) > 0) {
            context_.dialogs.MsgBox("Cannot Stop Servers while Applications are running",
                                    vbInformation, "Applications Are Running");
            return;
        }
        if (context_.settings.LocalServerSelected) {
            if (const auto others = OtherClientCount(); others != 0) {
                context_.dialogs.MsgBox("This Server has " + std::to_string(others) +
                                            " Client(s) connected." + CR + CR +
                                            "You cannot stop the servers !",
                                        vbInformation, "Cannot Stop Server");
            } else {
                local_->StopComponent(i16);
                entry.blnKeepRunning = false;
            }
        } else if (entry.intHostKind == suite::kHostLocal) {
            server->StopComponent(i16);
        } else if (entry.intHostKind == suite::kHostRemote) {
            context_.dialogs.MsgBox("Cannot stop Orvel Servers from a Remote Client", vbInformation,
                                    "Cannot Stop Server");
        }
    }
    if (!code && code.error().number == platform::kErrServerUnavailable) {
        // The server is gone: paint the error once instead of asking again.
        PaintStatusOutcome(index, code);
        return;
    }
    PaintStatusOutcome(index, server->GetComponentStatus(i16));
}

void frmMain::cmdServerConnect_Click() {
    if (!Connected()) return;
    for (int slot : {3, 7, 11})
        status::StartComponentServer(context_.table, slot, context_.dialogs);
    for (int slot = 0; slot < suite::kComponentSlots; ++slot) {
        status::StartComponentServer(context_.table, slot, context_.dialogs);
        context_.table[static_cast<std::size_t>(slot)].blnKeepRunning = true;
    }
}

void frmMain::cmdServerDisconnect_Click() {
    if (!Connected()) return;
    if (launcher::FindRunningApplication(context_.catalogue, context_.windows) > 0) {
        context_.dialogs.MsgBox("Cannot Stop Servers while Applications are running", vbInformation,
                                "Applications Are Running");
        return;
    }
    for (int slot = 0; slot < suite::kComponentSlots; ++slot) {
        status::StopComponentServer(context_.table, slot);
        context_.table[static_cast<std::size_t>(slot)].blnKeepRunning = false;
    }
}

void frmMain::StopUnneededServers() {
    if (!Connected()) return;
    if (context_.settings.LocalServerSelected && OtherClientCount() != 0) return;
    std::array<bool, suite::kComponentSlots> needed{};
    // Every entry's window is looked up, all together in one pass.
    std::vector<std::string> titles;
    for (const auto& app : context_.catalogue) titles.push_back(app.WindowTitle);
    platform::WindowSnapshot windowsNow(context_.windows, std::move(titles));
    for (int index = 0; index < launcher::kCatalogueSize; ++index) {
        auto& app = context_.catalogue[static_cast<std::size_t>(index)];
        app.WindowHandle = windowsNow.FindWindowA(app.WindowTitle);
        if (app.WindowHandle == 0) continue;
        for (auto slot : launcher::RequiredServersOf(index).startList) {
            needed[static_cast<std::size_t>(slot)] = true;
        }
    }
    for (int slot = 0; slot < suite::kComponentSlots; ++slot) {
        const auto s = static_cast<std::size_t>(slot);
        auto& entry = context_.table[s];
        if (needed[s] || entry.blnKeepRunning || !entry.objServer) continue;
        auto code = entry.objServer->GetComponentStatus(static_cast<std::int16_t>(slot));
        if (!code) return;  // ends at its first error
        if (*code == status::kStatusRunning && entry.intHostKind == suite::kHostLocal) {
            if (!entry.objServer->StopComponent(static_cast<std::int16_t>(slot))) return;
            RefreshServerList();
            if (!Connected()) return;
        }
    }
}

// ---------------------------------------------------------------- server events

void frmMain::OnServerChange(std::int16_t hostKind, std::int16_t idxIndex) {
    if (idxIndex < 0 || idxIndex >= suite::kComponentSlots) return;
    if (context_.table[static_cast<std::size_t>(idxIndex)].intHostKind != hostKind) return;
    auto server = ReferenceOfKind(hostKind);
    if (!server) return;
    PaintStatusOutcome(idxIndex, server->GetComponentStatus(idxIndex));
}

void frmMain::UnloadWaitWindow() {
    waitWindow_.reset();
}

void frmMain::OnServerMessage(std::int16_t intMessage, std::int16_t intVar,
                              const std::string& strVar) {
    if (intMessage != 0 || intVar != -1) {
        UnloadWaitWindow();
        return;
    }
    if (!waitWindow_) waitWindow_ = std::make_unique<frmMessage>(windowIcon());
    waitWindow_->lblMessage->setText(Q(strVar));
    waitWindow_->setWindowTitle("Message from Orvel Server");
    waitWindow_->show();
}

// ---------------------------------------------------------------- periodic poll

void frmMain::tmrTimer_Timer() {
    auto& settings = context_.settings;
    QLabel* clients = StatusPanel("keyClients");
    QLabel* activeSet = StatusPanel("keyActiveSet");
    if (local_) {
        mnuConfigure_->menuAction()->setEnabled(context_.IsAdministrator);
        mnuTools_->menuAction()->setEnabled(false);
        activeSet->setVisible(true);
        activeSet->setEnabled(true);
        StatusPanel("keyTimeSource")->setToolTip("Server Name");
        if (settings.LocalServerSelected) {
            const auto now = context_.clock.Now();
            StatusPanel("keyTimeSource")->setText(Q(settings.LocalServerName));
            SetStatusPanel("keyTime", status::FormatTime(now),
                           "Time on " + settings.LocalServerName);
            SetStatusPanel("keyDate", status::FormatDate(now),
                           "Date on " + settings.LocalServerName);
            if (const auto others = OtherClientCount(); others != 0) {
                clients->setEnabled(true);
                clients->setVisible(true);
                SetStatusPanel("keyClients", std::to_string(others) + " Client(s)",
                               "Server Clients");
            } else {
                clients->setEnabled(false);
                clients->setVisible(false);
            }
        } else {
            clients->setEnabled(false);
            clients->setVisible(false);
            StatusPanel("keyTimeSource")->setText(Q(settings.RemoteServerName));
            if (auto time = remote_ ? remote_->GetServerTime()
                                    : platform::Outcome<platform::DateTime>(
                                          platform::MakeError(platform::kErrObjectNotSet))) {
                SetStatusPanel("keyTime", "(" + status::FormatTime(*time) + ")",
                               "Time on " + settings.RemoteServerName);
            }
            if (auto date = remote_ ? remote_->GetServerTime()
                                    : platform::Outcome<platform::DateTime>(
                                          platform::MakeError(platform::kErrObjectNotSet))) {
                SetStatusPanel("keyDate", "(" + status::FormatDate(*date) + ")",
                               "Date on " + settings.RemoteServerName);
            }
        }
    } else {
        clients->setEnabled(false);
        clients->setVisible(false);
        SetStatusPanel("keyTimeSource", "Disconnected", "Server Disconnected");
        const auto now = context_.clock.Now();
        SetStatusPanel("keyTime", status::FormatTime(now), "Time on Local PC");
        SetStatusPanel("keyDate", status::FormatDate(now), "Date on Local PC");
        mnuConfigure_->menuAction()->setEnabled(context_.IsAdministrator);
        mnuTools_->menuAction()->setEnabled(true);
        activeSet->setVisible(false);
        SetStatusPanel("keyActiveSet", "- - -", "Active Set Not Available");
    }

    fraApplications_->ScanLaunchedTools();

    // A server message stays up until the next tick.
    if (waitWindow_) UnloadWaitWindow();

    switch (status::AdvanceTickCounter(tickCounter_)) {
        case status::PollPhase::DisconnectButton:
            if (local_) {
                if (launcher::FindRunningApplication(context_.catalogue, context_.windows) > 0) {
                    cmdServerDisconnect_->setEnabled(false);
                } else if (!settings.LocalServerSelected) {
                    cmdServerDisconnect_->setEnabled(false);
                } else if (localClientNumber_ == 1) {
                    cmdServerDisconnect_->setEnabled(OtherClientCount() == 0);
                }
            }
            break;
        case status::PollPhase::HostButtonRelease:
            if (cmdServerOrvelHost_->text() == "Co&nnect" &&
                HostButtonTag(cmdServerOrvelHost_) == "True") {
                cmdServerOrvelHost_->setEnabled(connectHoldUntil_ <= context_.clock.Monotonic());
            }
            break;
        case status::PollPhase::StopUnneeded:
            StopUnneededServers();
            break;
        case status::PollPhase::ActiveSet:
            if (remote_) {
                auto set = remote_->GetActiveSet();
                auto name = remote_->GetServerName();
                if (set) activeSet->setText(Q(*set));
                if (name) activeSet->setToolTip(PlainTip("Active Set on " + *name));
            }
            break;
        case status::PollPhase::Idle:
            break;
    }
}

}  // namespace orvel::mainwindow
