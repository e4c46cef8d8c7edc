#pragma once

// The status bar staGeneral: five plain-text panels named by their keys
// (keyTimeSource, keyTime, keyDate, keyActiveSet, keyClients), which the
// poll fills from the connected server or from this computer.

#include <string>

#include <QStatusBar>

#include "platform/Clock.h"
#include "settings/ConsoleSettings.h"

class QLabel;

namespace orvel::mainwindow {

class ServerConnection;

class GeneralStatusBar : public QStatusBar {
    Q_OBJECT
  public:
    // What the bar shows; all of it outlives the bar.
    struct Services {
        const settings::ConsoleSettings& settings;
        platform::Clock& clock;
        ServerConnection& connection;
    };

    GeneralStatusBar(Services services, QWidget* parent);

    // The server's name, time and date, and the other clients in local mode.
    void ShowConnected();
    // This computer's time and date; no clients, no active set.
    void ShowDisconnected();
    // The remote server's active set, when there is one.
    void ShowActiveSet();
    // The active set the connect found, shown with the rows.
    void ShowKnownActiveSet();

    QLabel* Panel(const char* key) const;

  private:
    void SetPanel(const char* key, const std::string& text, const std::string& toolTip);

    Services services_;
};

}  // namespace orvel::mainwindow
