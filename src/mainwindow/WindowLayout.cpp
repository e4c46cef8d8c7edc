#include "mainwindow/WindowLayout.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Clamp.h"

namespace orvel::mainwindow {

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr double kTwipsPerLetteringPoint = 950.0;

std::int16_t To16(int value) {
    return platform::ClampToInt16(value);
}

}  // namespace

int TwipsToPixels(int twips, double dotsPerInch) {
    if (dotsPerInch <= 0) dotsPerInch = 96.0;
    return static_cast<int>(std::lround(twips * dotsPerInch / kTwipsPerInch));
}

int PixelsToTwips(int pixels, double dotsPerInch) {
    if (dotsPerInch <= 0) dotsPerInch = 96.0;
    return static_cast<int>(std::lround(pixels * kTwipsPerInch / dotsPerInch));
}

ResizeOutcome ApplyResizeRules(std::int16_t windowState, const TwipsGeometry& geometry,
                               int screenTop) {
    ResizeOutcome outcome;
    outcome.geometry = geometry;
    auto& g = outcome.geometry;
    if (windowState == kStateNormal && g.top < screenTop) g.top = screenTop;
    g.height = std::max(g.height, kMinimumSizeTwips);
    g.width = std::max(g.width, kMinimumSizeTwips);
    // The smaller side decides: the rows need room across and down alike.
    outcome.letteringPoints = std::min(g.width, g.height) / kTwipsPerLetteringPoint;
    return outcome;
}

int ClampToAvailable(int askedTwips, int availableTwips) {
    if (availableTwips <= 0) return askedTwips;  // no screen known
    return std::max(std::min(askedTwips, availableTwips), kMinimumSizeTwips);
}

void RecordWindowPlacement(settings::ConsoleSettings& settings, std::int16_t windowState,
                           const TwipsGeometry& geometry) {
    settings.WindowState = windowState;
    settings.WindowFormHeight = To16(geometry.height);
    settings.WindowFormWidth = To16(geometry.width);
    settings.WindowFormTop = To16(geometry.top);
    settings.WindowFormLeft = To16(geometry.left);
}

}  // namespace orvel::mainwindow
