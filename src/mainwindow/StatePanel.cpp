#include "mainwindow/StatePanel.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace orvel::mainwindow {

namespace {

// The shortest caption a panel is squeezed to: a letter either side of the
// ellipsis.
constexpr const char16_t* kShortestCaption = u"M\u2026M";

class StatePanelAccessible : public QAccessibleWidget {
  public:
    explicit StatePanelAccessible(StatePanel* panel)
        : QAccessibleWidget(panel, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return Panel()->SubjectName();
            case QAccessible::Value:
            case QAccessible::Description:
                return Panel()->text();
            default:
                return QAccessibleWidget::text(t);
        }
    }
    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (Panel()->isEnabled()) names.prepend(pressAction());
        return names;
    }
    void doAction(const QString& actionName) override {
        if (actionName == pressAction()) {
            if (Panel()->isEnabled()) Panel()->Activate();
            return;
        }
        QAccessibleWidget::doAction(actionName);
    }

  private:
    StatePanel* Panel() const { return static_cast<StatePanel*>(widget()); }
};

QAccessibleInterface* StatePanelFactory(const QString& className, QObject* object) {
    if (object != nullptr && object->isWidgetType() &&
        className == QLatin1String(StatePanel::staticMetaObject.className())) {
        return new StatePanelAccessible(static_cast<StatePanel*>(object));
    }
    return nullptr;
}

}  // namespace

StatePanel::StatePanel(QWidget* parent) : QLabel(parent) {
    // Qt keeps the factories of the whole program; this one goes in once.
    static const bool accessibleFactoryInstalled = [] {
        QAccessible::installFactory(&StatePanelFactory);
        return true;
    }();
    (void)accessibleFactoryInstalled;
}

void StatePanel::SetSubject(QAbstractButton* button) {
    subject_ = button;
}

QString StatePanel::SubjectName() const {
    QString name = subject_ != nullptr ? subject_->text().remove('&') : QString();
    return name.isEmpty() ? text() : name;
}

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
