#pragma once

// Applies the resize rules to the main window: records the placement, keeps
// the minimum size and the top snap, and sizes the lettering of the launcher
// and server rows.

#include <QRect>
#include <functional>
#include <optional>

#include "settings/ConsoleSettings.h"

class QWidget;

namespace orvel::mainwindow {

// The screen a window is on, in virtual-desktop pixels.
struct ScreenArea {
    QRect geometry;   // the whole screen
    QRect available;  // without panels and docks
};

class WindowSizing {
  public:
    using ScreenOf = std::function<ScreenArea(const QWidget&)>;

    // screenOf gives the window's own screen; empty: the screen Qt says.
    WindowSizing(QWidget& window, settings::ConsoleSettings& settings, ScreenOf screenOf = {});

    void ApplyResizeRules();
    // The stored window state (0 normal, 1 minimised, 2 maximised); any other
    // stored value gives normal and is corrected to 0.
    void ApplyStoredWindowState();
    // The outer size (frame included) in twips, as the settings keep it,
    // within the screen's available area. Before a window manager has framed
    // the window its frame is unknown: the size is applied again once the
    // frame is there, so that the outer size is the one asked for.
    void ResizeToTwips(int widthTwips, int heightTwips);
    // Called on the window's move and resize events: applies a size that
    // waits for the frame.
    void FrameMayHaveChanged();
    // The minimum holds for the outer window; the frame is known once shown.
    void SetMinimumOuterSize();
    double LetteringPoints() const { return letteringPoints_; }

  private:
    void SetLettering(double points);
    void ResizeOuter(int widthTwips, int heightTwips);
    ScreenArea Screen() const;

    QWidget& window_;
    settings::ConsoleSettings& settings_;
    ScreenOf screenOf_;
    // A size asked for before the frame was known, and the client size it gave.
    struct WaitingSize {
        QSize outerTwips;
        QSize client;
    };
    std::optional<WaitingSize> waitingForFrame_;
    bool applying_ = false;
    double letteringPoints_ = 10.0;
};

}  // namespace orvel::mainwindow
