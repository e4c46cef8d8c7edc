#include "mainwindow/ServerPanel.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "mainwindow/ServerConnection.h"
#include "mainwindow/SplitRow.h"
#include "mainwindow/StatePanel.h"
#include "status/ComponentStatus.h"
#include "status/IdentityPanel.h"

namespace orvel::mainwindow {

using platform::CR;
using platform::vbInformation;

namespace {

QLabel* PlainLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// An identity label's text, which is also its accessible description: the
// label is named after what it shows ("Server Name"), and a screen reader
// reads the value from the description.
void ShowValue(QLabel* label, const QString& value) {
    label->setText(value);
    label->setAccessibleDescription(value);
}

QPushButton* Button(const char* name, const char* caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    return button;
}

}  // namespace

ServerPanel::ServerPanel(Services services, QWidget* parent)
    : QGroupBox("Orvel Servers", parent), services_(services) {
    setObjectName("fraServers");
    new QVBoxLayout(this);
    BuildIdentityPanel();
    BuildRows();
}

void ServerPanel::BuildIdentityPanel() {
    fraOrvelServer_ = new QGroupBox("Orvel File Server", this);
    fraOrvelServer_->setObjectName("fraOrvelServer");
    auto* identity = new QHBoxLayout(fraOrvelServer_);
    auto* labels = new QVBoxLayout;
    lblOrvelServerName_ = PlainLabel("lblOrvelServerName", fraOrvelServer_);
    lblOrvelServerOS_ = PlainLabel("lblOrvelServerOS", fraOrvelServer_);
    lblOrvelServerVersion_ = PlainLabel("lblOrvelServerVersion", fraOrvelServer_);
    lblOrvelServerName_->setAccessibleName("Server Name");
    lblOrvelServerOS_->setAccessibleName("Server Operating System");
    lblOrvelServerVersion_->setAccessibleName("Server Version");
    for (QLabel* label : {lblOrvelServerName_, lblOrvelServerOS_, lblOrvelServerVersion_}) {
        label->setAlignment(Qt::AlignCenter);
        // As tall as the lettering needs: the rows below get the rest.
        label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
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
    layout()->addWidget(fraOrvelServer_);
    connect(cmdServerLocal_, &QPushButton::clicked, this, &ServerPanel::localClicked);
    connect(cmdServerRemote_, &QPushButton::clicked, this, &ServerPanel::remoteClicked);
    connect(cmdServerOrvelHost_, &QPushButton::clicked, this, &ServerPanel::hostClicked);
    connect(cmdServerConnect_, &QPushButton::clicked, this, &ServerPanel::connectAllClicked);
    connect(cmdServerDisconnect_, &QPushButton::clicked, this, &ServerPanel::disconnectAllClicked);
    // A click on a label or frame of the panel repaints what that control shows.
    for (QWidget* control :
         std::initializer_list<QWidget*>{fraOrvelServer_, fraOrvelServerOS_, lblOrvelServerName_,
                                         lblOrvelServerOS_, lblOrvelServerVersion_}) {
        control->installEventFilter(this);
    }
}

bool ServerPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseButtonRelease) return QGroupBox::eventFilter(watched, event);
    if (watched == fraOrvelServer_) {
        RefreshServerPanel();
    } else if (watched == fraOrvelServerOS_) {
        RefreshServerSelection();
    } else if (watched == lblOrvelServerName_) {
        RefreshServerNameLabel();
    } else if (watched == lblOrvelServerOS_) {
        RefreshServerOSLabel();
    } else if (watched == lblOrvelServerVersion_) {
        RefreshServerVersionLabel();
    } else {
        return QGroupBox::eventFilter(watched, event);
    }
    // The click is the control's own: its frame does not repaint as well.
    return true;
}

// Twenty rows, two columns of ten.
void ServerPanel::BuildRows() {
    auto* rows = new QGridLayout;
    // Narrow gaps between the rows: at the minimum size each row needs every
    // pixel of its height for its lettering.
    rows->setHorizontalSpacing(6);
    rows->setVerticalSpacing(2);
    for (int i = 0; i < suite::kComponentSlots; ++i) {
        auto [row, button, panel] =
            MakeSplitRow(this, "spltServers", "cmdServers", "pnlServers", i);
        rows->addWidget(row, i % 10, i / 10);
        spltServers_[static_cast<std::size_t>(i)] = row;
        cmdServers_[static_cast<std::size_t>(i)] = button;
        pnlServers_[static_cast<std::size_t>(i)] = panel;
        connect(button, &QPushButton::clicked, this, [this, i] { cmdServers_Click(i); });
        connect(panel, &StatePanel::clicked, this, [this, i] { cmdServers_Click(i); });
    }
    static_cast<QVBoxLayout*>(layout())->addLayout(rows, 1);
}

// ---------------------------------------------------------------- identity panel

void ServerPanel::ShowRowCaptions() {
    fraOrvelServerOS_->setTitle("Not Connected");
    for (int i = 0; i < suite::kComponentSlots; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        cmdServers_[slot]->setText(Q(services_.table[slot].strDisplayName));
    }
}

void ServerPanel::ShowConnecting() {
    ShowValue(lblOrvelServerOS_, "Connecting...");
    Paint(lblOrvelServerOS_, status::kYellow, status::kBlack);
}

void ServerPanel::ShowSideTitle(const std::string& title) {
    fraOrvelServerOS_->setTitle(Q(title));
}

void ServerPanel::LockSide(bool localSide) {
    (localSide ? cmdServerRemote_ : cmdServerLocal_)->setEnabled(false);
}

void ServerPanel::ReleaseSides() {
    cmdServerLocal_->setEnabled(true);
    cmdServerRemote_->setEnabled(true);
}

void ServerPanel::HoldHostButton() {
    cmdServerOrvelHost_->setEnabled(false);
}

void ServerPanel::ReleaseHostButton() {
    if (cmdServerOrvelHost_->text() == "Co&nnect" &&
        cmdServerOrvelHost_->property("Tag").toString() == "True") {
        cmdServerOrvelHost_->setEnabled(!services_.connection.ConnectHeld());
    }
}

void ServerPanel::RefreshDisconnectAllButton() {
    auto& connection = services_.connection;
    if (!connection.Local()) return;
    // A running program or the remote side selected: nothing to disconnect here.
    if (launcher::FindRunningApplication(services_.catalogue, services_.windows) > 0 ||
        !services_.settings.LocalServerSelected) {
        cmdServerDisconnect_->setEnabled(false);
    } else if (connection.LocalClientNumber() == 1) {
        cmdServerDisconnect_->setEnabled(connection.OtherClientCount() == 0);
    }
}

void ServerPanel::RefreshServerNameLabel() {
    const auto& remote = services_.connection.Remote();
    if (!remote) {
        lblOrvelServerName_->hide();
        ShowValue(lblOrvelServerName_, "");
        lblOrvelServerName_->setToolTip("Server Name");
        Paint(lblOrvelServerName_, status::kRed, status::kWhite);
        return;
    }
    lblOrvelServerName_->show();
    auto name = remote->GetServerName();
    // Without a name the label keeps its text and its colours.
    if (!name) return;
    ShowValue(lblOrvelServerName_, Q(*name));
    Paint(lblOrvelServerName_, status::kBlack, status::kCyan);
}

void ServerPanel::RefreshServerOSLabel() {
    const auto& remote = services_.connection.Remote();
    lblOrvelServerOS_->show();
    if (!remote) {
        ShowValue(lblOrvelServerOS_, "Not Connected");
        lblOrvelServerOS_->setToolTip("Server Operating System");
        Paint(lblOrvelServerOS_, status::kRed, status::kWhite);
        return;
    }
    Paint(lblOrvelServerOS_, status::kBlack, status::kCyan);
    auto platformId = remote->GetPlatformId();
    if (!platformId) return;
    std::int16_t major = 0, minor = 0, build = 0;
    if (*platformId == 2) {
        auto ma = remote->GetOSMajorVersion();
        auto mi = remote->GetOSMinorVersion();
        auto bu = remote->GetOSBuild();
        if (!ma || !mi || !bu) return;
        major = *ma;
        minor = *mi;
        build = *bu;
    }
    ShowValue(lblOrvelServerOS_, Q(status::ServerOsCaption(*platformId, major, minor, build)));
}

void ServerPanel::RefreshServerVersionLabel() {
    const auto& remote = services_.connection.Remote();
    if (!remote) {
        lblOrvelServerVersion_->hide();
        ShowValue(lblOrvelServerVersion_, "");
        lblOrvelServerVersion_->setToolTip("Server Version");
        Paint(lblOrvelServerVersion_, status::kRed, status::kWhite);
        return;
    }
    auto version = remote->GetServerVersion();
    if (!version) return;
    lblOrvelServerVersion_->show();
    ShowValue(lblOrvelServerVersion_, Q(status::ReleaseText(*version)));
    Paint(lblOrvelServerVersion_, status::kBlack, status::kCyan);
}

void ServerPanel::RefreshServerPanel() {
    const auto& colours = services_.colours;
    auto& connection = services_.connection;
    fraOrvelServer_->setTitle("Orvel File Server");
    Paint(fraOrvelServer_, colours[1], colours[1] ^ 0xCFCFCFu);
    Paint(fraOrvelServerOS_, colours[1], colours[1] ^ 0xCFCFCFu);
    cmdServerConnect_->setText("&Connect ALL");
    cmdServerDisconnect_->setText("&Disconnect ALL");
    if (!connection.Local()) {
        cmdServerConnect_->setEnabled(false);
        cmdServerDisconnect_->setEnabled(false);
    } else {
        cmdServerConnect_->setEnabled(true);
        if (launcher::FindRunningApplication(services_.catalogue, services_.windows) > 0 ||
            !services_.settings.LocalServerSelected) {
            cmdServerDisconnect_->setEnabled(false);
        } else if (connection.RemoteClientNumber() == 1) {
            if (auto count = connection.Local()->GetClientCount()) {
                cmdServerDisconnect_->setEnabled(*count < 2);
            }
        }
    }
    RefreshServerSelection();
}

void ServerPanel::RefreshServerSelection() {
    const auto& settings = services_.settings;
    auto& connection = services_.connection;
    RefreshServerNameLabel();
    RefreshServerOSLabel();
    RefreshServerVersionLabel();
    const bool connected = connection.Connected();
    fraOrvelServerOS_->setTitle(Q(status::SelectionCaption(connected, settings.LocalServerSelected,
                                                           settings.RemoteServerName)));
    cmdServerLocal_->setText("File Server");
    cmdServerLocal_->setEnabled(role_ == 0);
    cmdServerRemote_->setText(role_ == 2 ? "Extended PC" : "Remote PC");
    cmdServerRemote_->setEnabled(role_ == 1 || role_ == 2);
    if (connected) {
        cmdServerOrvelHost_->setEnabled(true);
        cmdServerOrvelHost_->setText("Di&sconnect");
        cmdServerOrvelHost_->setToolTip("Disconnect from Orvel Server");
        cmdServerOrvelHost_->setProperty("Tag", "True");
    } else {
        cmdServerOrvelHost_->setToolTip("Connect to Orvel Server");
        cmdServerOrvelHost_->setText("Co&nnect");
        const bool named = connection.SelectedSideHasName();
        cmdServerOrvelHost_->setEnabled(named);
        cmdServerOrvelHost_->setProperty("Tag", named ? "True" : "False");
    }
    if (connection.ConnectHeld()) cmdServerOrvelHost_->setEnabled(false);
}

// ---------------------------------------------------------------- server rows

void ServerPanel::ShowComponentStatus(int index, std::int32_t code,
                                      const platform::RuntimeError& callError,
                                      const std::string* knownName) {
    if (index < 0 || index >= suite::kComponentSlots) return;
    const auto slot = static_cast<std::size_t>(index);
    const auto& entry = services_.table[slot];
    code = status::DisplayCode(code, services_.settings.LocalServerSelected, entry.intHostKind);
    std::string name;
    if (knownName != nullptr) {
        name = *knownName;
    } else if (entry.objServer) {
        name = entry.objServer->GetComponentName(static_cast<std::int16_t>(index)).value_or("");
    }
    const auto paint =
        status::PaintForStatus(code, name, services_.settings.RemoteServerName, callError);
    auto* row = spltServers_[slot];
    auto* panel = pnlServers_[slot];
    row->setVisible(paint.rowVisible);
    row->setEnabled(paint.rowEnabled);
    panel->setEnabled(paint.panelEnabled);
    panel->setText(Q(paint.caption));
    baseTips_[slot] = paint.toolTip;
    panel->setToolTip(PlainTip(history_.Tip(paint.toolTip, entry.objServer.get(), index)));
    Paint(panel, paint.back, paint.text);
    history_.Refresh(entry.objServer, [this] { ShowRowHistory(); });
}

void ServerPanel::ShowRowHistory() {
    for (int i = 0; i < suite::kComponentSlots; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        const auto& server = services_.table[slot].objServer;
        if (!server) continue;
        pnlServers_[slot]->setToolTip(PlainTip(history_.Tip(baseTips_[slot], server.get(), i)));
    }
}

void ServerPanel::PaintStatusOutcome(int index, const platform::Outcome<std::int32_t>& status,
                                     const std::string* knownName) {
    if (status) {
        ShowComponentStatus(index, *status, {}, knownName);
    } else {
        ShowComponentStatus(index, status::kStatusDComError, status.error(), knownName);
    }
}

void ServerPanel::RefreshServerList() {
    const auto& colours = services_.colours;
    setTitle("Orvel Servers");
    Paint(this, colours[4], colours[4] ^ 0xC0C0C0u);
    RefreshServerPanel();
    for (int i = 0; i < suite::kComponentSlots; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        const auto& entry = services_.table[slot];
        auto* button = cmdServers_[slot];
        auto* panel = pnlServers_[slot];
        button->setText(Q(entry.strDisplayName));
        Paint(button, colours[1], colours[1] ^ 0xCFCFCFu);
        auto server = services_.connection.ReferenceOfKind(entry.intHostKind);
        if (!server) {
            button->setEnabled(false);
            button->setText("");
            panel->setText("");
            panel->setToolTip("");
            baseTips_[slot].clear();
            Paint(panel, status::kBlack, status::kCyan);
            // A row its server does not support (-1) stays hidden.
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

void ServerPanel::OnServerChange(std::int16_t hostKind, std::int16_t idxIndex) {
    if (idxIndex < 0 || idxIndex >= suite::kComponentSlots) return;
    if (services_.table[static_cast<std::size_t>(idxIndex)].intHostKind != hostKind) return;
    auto server = services_.connection.ReferenceOfKind(hostKind);
    if (!server) return;
    PaintStatusOutcome(idxIndex, server->GetComponentStatus(idxIndex));
}

void ServerPanel::StopRunningComponent(int index) {
    auto& entry = services_.table[static_cast<std::size_t>(index)];
    auto& connection = services_.connection;
    const auto i16 = static_cast<std::int16_t>(index);
    if (services_.settings.LocalServerSelected) {
        if (const auto others = connection.OtherClientCount(); others != 0) {
            services_.dialogs.MsgBox("This Server has " + std::to_string(others) +
                                         " Client(s) connected." + CR + CR +
                                         "You cannot stop the servers !",
                                     vbInformation, "Cannot Stop Server");
        } else {
            connection.Local()->StopComponent(i16);
            entry.blnKeepRunning = false;
        }
    } else if (entry.intHostKind == suite::kHostLocal) {
        entry.objServer->StopComponent(i16);
    } else if (entry.intHostKind == suite::kHostRemote) {
        services_.dialogs.MsgBox("Cannot stop Orvel Servers from a Remote Client", vbInformation,
                                 "Cannot Stop Server");
    }
}

void ServerPanel::cmdServers_Click(int index) {
    if (index < 0 || index >= suite::kComponentSlots || !services_.connection.Connected()) return;
    auto& entry = services_.table[static_cast<std::size_t>(index)];
    auto server = entry.objServer;
    if (!server) return;
    const auto i16 = static_cast<std::int16_t>(index);
    auto code = server->GetComponentStatus(i16);
    if (code && *code == status::kStatusOffLine) {
        if (auto started = server->StartComponent(i16); started && *started == 1) {
            entry.blnKeepRunning = true;
        }
    } else if (code && *code == status::kStatusRunning) {
        if (launcher::FindRunningApplication(services_.catalogue, services_.windows) > 0) {
            services_.dialogs.MsgBox("Cannot Stop Servers while Applications are running",
                                     vbInformation, "Applications Are Running");
            return;
        }
        StopRunningComponent(index);
    }
    if (!code && code.error().number == platform::kErrServerUnavailable) {
        // The server is gone: paint the error once instead of asking again.
        PaintStatusOutcome(index, code);
        return;
    }
    PaintStatusOutcome(index, server->GetComponentStatus(i16));
}

}  // namespace orvel::mainwindow
