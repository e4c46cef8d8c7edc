#include "mainwindow/frmMessage.h"

#include <QVBoxLayout>

namespace orvel::mainwindow {

QString MessageLines(const std::string& text) {
    QString lines = QString::fromStdString(text);
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}

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

void frmMessage::SetMessage(const std::string& text) {
    const QString lines = MessageLines(text);
    if (lblMessage->text() != lines) lblMessage->setText(lines);
}

}  // namespace orvel::mainwindow
