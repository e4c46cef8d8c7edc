#include "mainwindow/ColourThemes.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextDocument>
#include <QWidget>

namespace orvel::mainwindow {

void FillColourThemes(ColourThemes& themes) {
    themes.tables[kThemeBlue] = {0x800000, 0xFFC0C0, 0xFF8080, 0xFF0000,
                                 0xC00000, 0x800000, 0x400000, 0};
    themes.tables[kThemeCyan] = {0x808000, 0xFFFFC0, 0xFFFF80, 0xFFFF00,
                                 0xC0C000, 0x808000, 0x404000, 0};
    themes.tables[kThemeGreen] = {0x008000, 0xC0FFC0, 0x80CC80, 0x00FF00,
                                  0x00C000, 0x008000, 0x004000, 0};
    themes.tables[kThemeYellow] = {0x008080, 0xC0FFFF, 0x80FFFF, 0x00FFFF,
                                   0x00C0C0, 0x008080, 0x004040, 0};
    themes.tables[kThemeGray] = {0x808080, 0xF0F0F0, 0xE0E0E0, 0xC0C0C0,
                                 0x808080, 0x404040, 0x000000, 0};
}

QColor ToQColor(std::uint32_t winColour) {
    if (winColour == 0x80000011u) {
        return QGuiApplication::palette().color(QPalette::Disabled, QPalette::WindowText);
    }
    return QColor(static_cast<int>(winColour & 0xFFu), static_cast<int>((winColour >> 8) & 0xFFu),
                  static_cast<int>((winColour >> 16) & 0xFFu));
}

void Paint(QWidget* widget, std::uint32_t back, std::uint32_t text) {
    QPalette palette = widget->palette();
    const QColor backColour = ToQColor(back);
    const QColor textColour = ToQColor(text);
    palette.setColor(QPalette::Window, backColour);
    palette.setColor(QPalette::Button, backColour);
    // Enabled and inactive controls take the text colour; a disabled one keeps
    // a greyed text, halfway between its text and its back colour, so that it
    // reads as disabled on every theme.
    const QColor greyed((textColour.red() + backColour.red()) / 2,
                        (textColour.green() + backColour.green()) / 2,
                        (textColour.blue() + backColour.blue()) / 2);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, textColour);
        palette.setColor(group, QPalette::ButtonText, textColour);
    }
    palette.setColor(QPalette::Disabled, QPalette::WindowText, greyed);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, greyed);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QString PlainTip(const std::string& text) {
    QString tip = Q(text);
    if (Qt::mightBeRichText(tip)) return "<qt>" + tip.toHtmlEscaped() + "</qt>";
    return tip;
}

}  // namespace orvel::mainwindow
