#pragma once

// The wait window: "Please Wait ..." and a message set by the caller.

#include <QLabel>
#include <QWidget>

namespace orvel::mainwindow {

class frmMessage : public QWidget {
    Q_OBJECT
  public:
    explicit frmMessage(const QIcon& icon, QWidget* parent = nullptr);

    QLabel* lblPleaseWait = nullptr;
    QLabel* lblMessage = nullptr;
};

}  // namespace orvel::mainwindow
