#include "mainwindow/WindowSizing.h"

#include <QWidget>

#include "mainwindow/WindowLayout.h"

namespace orvel::mainwindow {

namespace {

TwipsGeometry ToTwips(const QRect& frame, double dpiX, double dpiY) {
    return {PixelsToTwips(frame.x(), dpiX), PixelsToTwips(frame.y(), dpiY),
            PixelsToTwips(frame.width(), dpiX), PixelsToTwips(frame.height(), dpiY)};
}

std::int16_t StateOf(Qt::WindowStates qtState) {
    if (qtState & Qt::WindowMinimized) return kStateMinimised;
    if (qtState & (Qt::WindowMaximized | Qt::WindowFullScreen)) return kStateMaximised;
    return kStateNormal;
}

}  // namespace

void WindowSizing::ResizeToTwips(int widthTwips, int heightTwips) {
    const QSize frame = window_.frameGeometry().size() - window_.size();
    window_.resize(TwipsToPixels(widthTwips, window_.logicalDpiX()) - frame.width(),
                   TwipsToPixels(heightTwips, window_.logicalDpiY()) - frame.height());
    // A hidden window gets its resize event only when shown: the settings
    // and the lettering follow the new size now.
    if (!window_.isVisible()) ApplyResizeRules();
}

void WindowSizing::SetMinimumOuterSize() {
    const QSize frame = window_.frameGeometry().size() - window_.size();
    const QSize minimum(TwipsToPixels(kMinimumSizeTwips, window_.logicalDpiX()) - frame.width(),
                        TwipsToPixels(kMinimumSizeTwips, window_.logicalDpiY()) - frame.height());
    if (window_.minimumSize() != minimum) window_.setMinimumSize(minimum);
}

void WindowSizing::ApplyResizeRules() {
    if (applying_) return;
    applying_ = true;
    SetMinimumOuterSize();
    const double dpiX = window_.logicalDpiX();
    const double dpiY = window_.logicalDpiY();
    const std::int16_t state = StateOf(window_.windowState());
    const QRect frame = window_.frameGeometry();
    const TwipsGeometry now = ToTwips(frame, dpiX, dpiY);
    RecordWindowPlacement(settings_, state, now);
    const ResizeOutcome outcome = mainwindow::ApplyResizeRules(state, now);
    if (outcome.geometry.top != now.top) window_.move(frame.x(), 0);
    if (outcome.geometry.width != now.width || outcome.geometry.height != now.height) {
        ResizeToTwips(outcome.geometry.width, outcome.geometry.height);
    }
    if (outcome.geometry != now) {
        // Record where the window went, not only where it was asked to be.
        RecordWindowPlacement(settings_, state, ToTwips(window_.frameGeometry(), dpiX, dpiY));
    }
    if (outcome.letteringPoints != letteringPoints_) SetLettering(outcome.letteringPoints);
    applying_ = false;
}

void WindowSizing::SetLettering(double points) {
    letteringPoints_ = points;
    for (auto* widget : window_.findChildren<QWidget*>()) {
        const QString name = widget->objectName();
        if (name.startsWith("pnlServers_") || name.startsWith("cmdServers_") ||
            name.startsWith("pnlApplication_") || name.startsWith("cmdApplication_")) {
            QFont font = widget->font();
            font.setPointSizeF(letteringPoints_);
            widget->setFont(font);
        }
    }
}

}  // namespace orvel::mainwindow
