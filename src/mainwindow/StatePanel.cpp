#include "mainwindow/StatePanel.h"

#include <QMouseEvent>

namespace orvel::mainwindow {

void StatePanel::mousePressEvent(QMouseEvent* event) {
    QLabel::mousePressEvent(event);
    emit clicked();
}

}  // namespace orvel::mainwindow
