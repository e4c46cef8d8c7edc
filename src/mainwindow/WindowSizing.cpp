#include "mainwindow/WindowSizing.h"

#include <QGridLayout>
#include <QLayout>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <utility>

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

constexpr double kStandardLetteringPoints = 10.0;

// Spacing and margins in proportion to the standard size; the standard ones
// are kept on the layout the first time. A grid keeps its two spacings apart.
void ScaleGaps(QLayout& layout, double scale) {
    auto* grid = qobject_cast<QGridLayout*>(&layout);
    QVariant base = layout.property("standardGaps");
    if (!base.isValid()) {
        const QMargins m = layout.contentsMargins();
        const int across = grid != nullptr ? grid->horizontalSpacing() : layout.spacing();
        const int down = grid != nullptr ? grid->verticalSpacing() : layout.spacing();
        base = QVariantList{across, down, m.left(), m.top(), m.right(), m.bottom()};
        layout.setProperty("standardGaps", base);
    }
    const QVariantList gaps = base.toList();
    auto scaled = [&gaps, scale](int i) {
        return std::max(0, static_cast<int>(std::lround(gaps.at(i).toInt() * scale)));
    };
    if (grid != nullptr) {
        if (gaps.at(0).toInt() >= 0) grid->setHorizontalSpacing(scaled(0));
        if (gaps.at(1).toInt() >= 0) grid->setVerticalSpacing(scaled(1));
    } else if (gaps.at(0).toInt() >= 0) {
        layout.setSpacing(scaled(0));
    }
    layout.setContentsMargins(scaled(2), scaled(3), scaled(4), scaled(5));
}

}  // namespace

WindowSizing::WindowSizing(QWidget& window, settings::ConsoleSettings& settings, ScreenOf screenOf)
    : window_(window), settings_(settings), screenOf_(std::move(screenOf)) {}

void WindowSizing::ApplyStoredWindowState() {
    switch (settings_.WindowState) {
        case kStateMinimised:
            window_.setWindowState(Qt::WindowMinimized);
            break;
        case kStateMaximised:
            window_.setWindowState(Qt::WindowMaximized);
            break;
        default:
            settings_.WindowState = kStateNormal;
            window_.setWindowState(Qt::WindowNoState);
            break;
    }
}

ScreenArea WindowSizing::Screen() const {
    if (screenOf_) return screenOf_(window_);
    const QScreen* screen = window_.screen();
    if (screen == nullptr) return {};
    return {screen->geometry(), screen->availableGeometry()};
}

void WindowSizing::ResizeToTwips(int widthTwips, int heightTwips) {
    const QRect available = Screen().available;
    widthTwips =
        ClampToAvailable(widthTwips, PixelsToTwips(available.width(), window_.logicalDpiX()));
    heightTwips =
        ClampToAvailable(heightTwips, PixelsToTwips(available.height(), window_.logicalDpiY()));
    // Without a frame yet (not shown, or not yet framed by the window
    // manager) the size is asked again once the frame is known.
    const bool framed = window_.frameGeometry().size() != window_.size();
    waitingForFrame_.reset();
    ResizeOuter(widthTwips, heightTwips);
    if (!framed) waitingForFrame_ = WaitingSize{QSize(widthTwips, heightTwips), window_.size()};
}

void WindowSizing::FrameMayHaveChanged() {
    if (!waitingForFrame_ || !window_.isVisible()) return;
    // Resized meanwhile (by the operator or the rules): that size stands.
    if (window_.size() != waitingForFrame_->client) {
        waitingForFrame_.reset();
        return;
    }
    if (window_.frameGeometry().size() == window_.size()) return;
    const QSize outer = waitingForFrame_->outerTwips;
    waitingForFrame_.reset();
    if (window_.windowState() &
        (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
        return;
    }
    ResizeOuter(outer.width(), outer.height());
}

void WindowSizing::ResizeOuter(int widthTwips, int heightTwips) {
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
    // The top snaps to the window's own screen: a screen above the primary
    // one has negative coordinates.
    const int screenTop = Screen().geometry.top();
    const ResizeOutcome outcome =
        mainwindow::ApplyResizeRules(state, now, PixelsToTwips(screenTop, dpiY));
    if (outcome.geometry.top != now.top) window_.move(frame.x(), screenTop);
    if (outcome.geometry.width != now.width || outcome.geometry.height != now.height) {
        ResizeOuter(outcome.geometry.width, outcome.geometry.height);
    }
    if (outcome.geometry != now) {
        // Record where the window went, not only where it was asked to be.
        RecordWindowPlacement(settings_, state, ToTwips(window_.frameGeometry(), dpiX, dpiY));
    }
    if (outcome.letteringPoints != letteringPoints_) SetLettering(outcome.letteringPoints);
    applying_ = false;
}

// The rows' lettering follows the size; so do the identity panel's buttons
// and labels and the gaps of the frames' layouts, so that the window shrinks
// as a whole and every row keeps room for its caption.
void WindowSizing::SetLettering(double points) {
    letteringPoints_ = points;
    const double scale = points / kStandardLetteringPoints;
    for (auto* widget : window_.findChildren<QWidget*>()) {
        const QString name = widget->objectName();
        if (name.startsWith("pnlServers_") || name.startsWith("cmdServers_") ||
            name.startsWith("pnlApplication_") || name.startsWith("cmdApplication_") ||
            name.startsWith("cmdServer") || name.startsWith("lblOrvelServer") ||
            name.startsWith("fra")) {
            QFont font = widget->font();
            font.setPointSizeF(letteringPoints_);
            widget->setFont(font);
        }
    }
    auto* client = window_.findChild<QWidget*>("frmMainClient");
    if (client == nullptr) return;
    for (auto* layout : client->findChildren<QLayout*>()) ScaleGaps(*layout, scale);
    if (client->layout() != nullptr) ScaleGaps(*client->layout(), scale);
}

}  // namespace orvel::mainwindow
