#pragma once

// The wait window: "Please Wait ..." and a message set by the caller.

#include <QLabel>
#include <QWidget>
#include <string>

namespace orvel::mainwindow {

// A server message as the label shows it: a carriage return (alone or
// before a line feed) breaks the line, as a line feed does.
QString MessageLines(const std::string& text);

class frmMessage : public QWidget {
    Q_OBJECT
  public:
    explicit frmMessage(const QIcon& icon, QWidget* parent = nullptr);

    // Sets lblMessage to text with its line breaks; a text already shown is
    // not set again, so that a repeated message does not flicker.
    void SetMessage(const std::string& text);

    QLabel* lblPleaseWait = nullptr;
    QLabel* lblMessage = nullptr;
};

}  // namespace orvel::mainwindow
