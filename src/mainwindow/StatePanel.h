#pragma once

// Clickable 3-D state panel of a server or application row.

#include <QLabel>

namespace orvel::mainwindow {

class StatePanel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace orvel::mainwindow
