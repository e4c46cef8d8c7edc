#pragma once

// The tool bar tlbToolBar: four category buttons that stay pressed (the three
// launcher categories and the servers) and the clients button. A click, by
// the mouse, the keyboard or an accessibility client, is passed on as the
// button's key; the window decides what it shows.

#include <string>

#include <QString>
#include <QToolBar>

namespace orvel::mainwindow {

class CategoryToolBar : public QToolBar {
    Q_OBJECT
  public:
    explicit CategoryToolBar(QWidget* parent);

    // Releases the category buttons and presses key's, when it is one; gives
    // the button's caption ("" for a key without a button).
    std::string Press(const QString& key);

  signals:
    void buttonClicked(const QString& key);

  private:
    bool pressing_ = false;  // Press sets the marks: its own toggles are not clicks
};

}  // namespace orvel::mainwindow
