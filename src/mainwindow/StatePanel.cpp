#include "mainwindow/StatePanel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace orvel::mainwindow {

namespace {

// The shortest caption a panel is squeezed to: a letter either side of the
// ellipsis.
constexpr const char16_t* kShortestCaption = u"M\u2026M";

}  // namespace

QString StatePanel::ShownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

QSize StatePanel::minimumSizeHint() const {
    QSize hint = QLabel::minimumSizeHint();
    const int shortest = fontMetrics().horizontalAdvance(QString::fromUtf16(kShortestCaption));
    const QMargins margins = contentsMargins();
    hint.setWidth(std::min(hint.width(), shortest + margins.left() + margins.right()));
    return hint;
}

void StatePanel::mousePressEvent(QMouseEvent* event) {
    QLabel::mousePressEvent(event);
    emit clicked();
}

void StatePanel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                          isEnabled(), ShownText(), foregroundRole());
}

}  // namespace orvel::mainwindow
