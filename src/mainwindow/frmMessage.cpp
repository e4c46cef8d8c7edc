#include "mainwindow/frmMessage.h"

#include <QVBoxLayout>

namespace orvel::mainwindow {

frmMessage::frmMessage(const QIcon& icon, QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("frmMessage");
    setWindowIcon(icon);
    auto* layout = new QVBoxLayout(this);
    lblPleaseWait = new QLabel("Please Wait ...", this);
    lblPleaseWait->setObjectName("lblPleaseWait");
    lblPleaseWait->setTextFormat(Qt::PlainText);
    lblMessage = new QLabel(this);
    lblMessage->setObjectName("lblMessage");
    lblMessage->setTextFormat(Qt::PlainText);
    lblMessage->setWordWrap(true);
    layout->addWidget(lblPleaseWait);
    layout->addWidget(lblMessage);
    resize(360, 120);
}

}  // namespace orvel::mainwindow
