#pragma once

// The main window's resize rules as plain arithmetic on twips (1/1440 inch):
// the minimum size, the top snap in the normal state, the lettering size of
// the launcher and server rows, and the placement the settings record.

#include <cstdint>

#include "settings/ConsoleSettings.h"

namespace orvel::mainwindow {

inline constexpr int kStandardSizeTwips = 9500;
inline constexpr int kMinimumSizeTwips = 5700;  // 0.6 of the standard size

// Window states as the settings keep them.
inline constexpr std::int16_t kStateNormal = 0;
inline constexpr std::int16_t kStateMinimised = 1;
inline constexpr std::int16_t kStateMaximised = 2;

// Twips and pixels convert through the screen's logical dots per inch.
int TwipsToPixels(int twips, double dotsPerInch);
int PixelsToTwips(int pixels, double dotsPerInch);

// The outer window in twips, relative to the screen.
struct TwipsGeometry {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const TwipsGeometry&) const = default;
};

struct ResizeOutcome {
    TwipsGeometry geometry;       // where the window must be after the rules
    double letteringPoints = 10;  // font size of every launcher and server row
};

// Snaps the top to the top of the window's own screen (screenTop, in the
// same coordinates as geometry) in the normal state, raises height and width
// to the minimum, and derives the lettering from the smaller side of the size
// that results (10 points at the standard square, 6 at the minimum).
ResizeOutcome ApplyResizeRules(std::int16_t windowState, const TwipsGeometry& geometry,
                               int screenTop = 0);

// A size asked for (load, "&Restore Size") kept within the screen's available
// area, but never below the minimum.
int ClampToAvailable(int askedTwips, int availableTwips);

// Records state and placement in the settings, each value kept within the
// 16-bit range of its field (a large screen has more twips than that).
void RecordWindowPlacement(settings::ConsoleSettings& settings, std::int16_t windowState,
                           const TwipsGeometry& geometry);

}  // namespace orvel::mainwindow
