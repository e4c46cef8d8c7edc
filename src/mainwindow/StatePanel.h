#pragma once

// Clickable 3-D state panel of a server or application row. Its caption is
// shown whole where the row has room; where it has not (a long remote
// server name in a narrow window) it is shortened in the middle with an
// ellipsis. text() and the accessible name keep the whole caption.

#include <QLabel>

namespace orvel::mainwindow {

class StatePanel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;

    // The caption as painted: whole, or shortened to the panel's width.
    QString ShownText() const;
    // The row may squeeze the panel down to a short caption; it gets its
    // whole caption's width whenever the row has that much.
    QSize minimumSizeHint() const override;

  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace orvel::mainwindow
