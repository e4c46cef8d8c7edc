#include "mainwindow/GeneralStatusBar.h"

#include <QLabel>

#include "mainwindow/ColourThemes.h"
#include "mainwindow/ServerConnection.h"
#include "status/StatusPoll.h"

namespace orvel::mainwindow {

GeneralStatusBar::GeneralStatusBar(Services services, QWidget* parent)
    : QStatusBar(parent), services_(services) {
    setObjectName("staGeneral");
    const char* keys[] = {"keyTimeSource", "keyTime", "keyDate", "keyActiveSet", "keyClients"};
    const char* texts[] = {"Server", "(Time)", "(Date)", "(Orvel Active Set)", "Clients"};
    const char* tips[] = {"Server Name", "Curent Time", "Current Date", "Orvel Active Set",
                          "Remote Clients Connected"};
    for (int i = 0; i < 5; ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(keys[i]);
        panel->setTextFormat(Qt::PlainText);
        panel->setText(texts[i]);
        panel->setToolTip(tips[i]);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setMinimumWidth(90);
        addWidget(panel, i == 3 ? 2 : 1);
    }
}

QLabel* GeneralStatusBar::Panel(const char* key) const {
    return findChild<QLabel*>(key, Qt::FindDirectChildrenOnly);
}

void GeneralStatusBar::SetPanel(const char* key, const std::string& text,
                                const std::string& toolTip) {
    QLabel* panel = Panel(key);
    panel->setText(Q(text));
    panel->setToolTip(PlainTip(toolTip));
}

void GeneralStatusBar::ShowConnected() {
    const auto& settings = services_.settings;
    QLabel* clients = Panel("keyClients");
    QLabel* activeSet = Panel("keyActiveSet");
    activeSet->setVisible(true);
    activeSet->setEnabled(true);
    Panel("keyTimeSource")->setToolTip("Server Name");
    const auto others = settings.LocalServerSelected ? services_.connection.OtherClientCount() : 0;
    clients->setEnabled(others != 0);
    clients->setVisible(others != 0);
    if (others != 0) {
        SetPanel("keyClients", std::to_string(others) + " Client(s)", "Server Clients");
    }
    if (settings.LocalServerSelected) {
        const auto now = services_.clock.Now();
        Panel("keyTimeSource")->setText(Q(settings.LocalServerName));
        SetPanel("keyTime", status::FormatTime(now), "Time on " + settings.LocalServerName);
        SetPanel("keyDate", status::FormatDate(now), "Date on " + settings.LocalServerName);
        return;
    }
    Panel("keyTimeSource")->setText(Q(settings.RemoteServerName));
    const auto& remote = services_.connection.Remote();
    if (!remote) return;
    if (auto time = remote->GetServerTime()) {
        SetPanel("keyTime", "(" + status::FormatTime(*time) + ")",
                 "Time on " + settings.RemoteServerName);
    }
    if (auto date = remote->GetServerTime()) {
        SetPanel("keyDate", "(" + status::FormatDate(*date) + ")",
                 "Date on " + settings.RemoteServerName);
    }
}

void GeneralStatusBar::ShowDisconnected() {
    QLabel* clients = Panel("keyClients");
    clients->setEnabled(false);
    clients->setVisible(false);
    // A lost connection, or the reason a connect was refused, is named until
    // the connection is back or given up.
    const auto& notice = services_.connection.StatusNotice();
    if (notice.text.empty()) {
        SetPanel("keyTimeSource", "Disconnected", "Server Disconnected");
    } else {
        SetPanel("keyTimeSource", notice.text, notice.toolTip);
    }
    const auto now = services_.clock.Now();
    SetPanel("keyTime", status::FormatTime(now), "Time on Local PC");
    SetPanel("keyDate", status::FormatDate(now), "Date on Local PC");
    Panel("keyActiveSet")->setVisible(false);
    SetPanel("keyActiveSet", "- - -", "Active Set Not Available");
}

void GeneralStatusBar::ShowKnownActiveSet() {
    const auto& connection = services_.connection;
    if (connection.ActiveSet().empty()) return;
    QLabel* activeSet = Panel("keyActiveSet");
    activeSet->setText(Q(connection.ActiveSet()));
    if (!connection.ActiveSetServer().empty()) {
        activeSet->setToolTip(PlainTip("Active Set on " + connection.ActiveSetServer()));
    }
}

void GeneralStatusBar::ShowActiveSet() {
    const auto& remote = services_.connection.Remote();
    if (!remote) return;
    QLabel* activeSet = Panel("keyActiveSet");
    auto set = remote->GetActiveSet();
    auto name = remote->GetServerName();
    if (set) activeSet->setText(Q(*set));
    if (name) activeSet->setToolTip(PlainTip("Active Set on " + *name));
}

}  // namespace orvel::mainwindow
