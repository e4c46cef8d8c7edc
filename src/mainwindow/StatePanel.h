#pragma once

// Clickable 3-D state panel of a server or application row. Its caption is
// shown whole where the row has room; where it has not (a long remote
// server name in a narrow window) it is shortened in the middle with an
// ellipsis; text() keeps the whole caption. Assistive technology sees a
// button named after its row (the row button's caption) whose value and
// description are the caption, and whose press action clicks it.

#include <QLabel>
#include <QPointer>

class QAbstractButton;

namespace orvel::mainwindow {

class StatePanel : public QLabel {
    Q_OBJECT
  public:
    explicit StatePanel(QWidget* parent = nullptr);

    // The row's button, whose caption names the panel.
    void SetSubject(QAbstractButton* button);
    QString SubjectName() const;
    // What a click does.
    void Activate() { emit clicked(); }

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

  private:
    QPointer<QAbstractButton> subject_;
};

}  // namespace orvel::mainwindow
