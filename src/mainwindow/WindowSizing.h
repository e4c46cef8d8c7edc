#pragma once

// Applies the resize rules to the main window: records the placement, keeps
// the minimum size and the top snap, and sizes the lettering of the launcher
// and server rows.

#include "settings/ConsoleSettings.h"

class QWidget;

namespace orvel::mainwindow {

class WindowSizing {
  public:
    WindowSizing(QWidget& window, settings::ConsoleSettings& settings)
        : window_(window), settings_(settings) {}

    void ApplyResizeRules();
    // The outer size (frame included) in twips, as the settings keep it.
    void ResizeToTwips(int widthTwips, int heightTwips);
    // The minimum holds for the outer window; the frame is known once shown.
    void SetMinimumOuterSize();
    double LetteringPoints() const { return letteringPoints_; }

  private:
    void SetLettering(double points);

    QWidget& window_;
    settings::ConsoleSettings& settings_;
    bool applying_ = false;
    double letteringPoints_ = 10.0;
};

}  // namespace orvel::mainwindow
