#pragma once

// The five colour themes of the main window, as 0x00BBGGRR values.

#include <array>
#include <cstdint>

#include <QColor>
#include <QString>
#include <string>

class QWidget;

namespace orvel::mainwindow {

using ColourTable = std::array<std::uint32_t, 8>;

inline constexpr int kThemeBlue = 0;
inline constexpr int kThemeCyan = 1;
inline constexpr int kThemeGreen = 2;
inline constexpr int kThemeYellow = 3;
inline constexpr int kThemeGray = 4;
inline constexpr int kThemeCount = 5;

struct ColourThemes {
    std::array<ColourTable, kThemeCount> tables{};
};

// Fills elements 0-6 of each theme (element 7 stays 0): blue, cyan, green,
// yellow, gray.
void FillColourThemes(ColourThemes& themes);

// A 0x00BBGGRR value as a QColor; the grey-text system colour (0x80000011) as
// the palette's disabled text colour.
QColor ToQColor(std::uint32_t winColour);

// Paints a widget's background and lettering with two 0x00BBGGRR values.
void Paint(QWidget* widget, std::uint32_t back, std::uint32_t text);

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A tool-tip that came from a server or a file is shown as plain text: Qt
// would render one that looks like markup as rich text.
QString PlainTip(const std::string& text);

}  // namespace orvel::mainwindow
