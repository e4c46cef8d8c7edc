#include "platform/qt/QtDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <utility>
#include <vector>

namespace orvel::platform {

namespace {

constexpr int kButtonsMask = 0x7;
constexpr int kIconMask = 0x70;
constexpr int kDefaultButtonMask = 0x300;
constexpr int vbCancel = 2;
constexpr int vbAbort = 3;
constexpr int vbRetry = 4;
constexpr int vbIgnore = 5;

QString ShownText(std::string_view text) {
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QChar('\r'), QChar('\n'));
    return shown;
}

QMessageBox::Icon IconFor(int style) {
    switch (style & kIconMask) {
        case vbCritical:
            return QMessageBox::Critical;
        case vbQuestion:
            return QMessageBox::Question;
        case vbExclamation:
            return QMessageBox::Warning;
        case vbInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

struct ButtonChoice {
    QMessageBox::StandardButton button;
    int answer;
};

// The buttons of each style, in the order the old boxes showed them.
std::vector<ButtonChoice> ButtonsFor(int style) {
    switch (style & kButtonsMask) {
        case 1:
            return {{QMessageBox::Ok, vbOK}, {QMessageBox::Cancel, vbCancel}};
        case 2:
            return {{QMessageBox::Abort, vbAbort},
                    {QMessageBox::Retry, vbRetry},
                    {QMessageBox::Ignore, vbIgnore}};
        case 3:
            return {{QMessageBox::Yes, vbYes},
                    {QMessageBox::No, vbNo},
                    {QMessageBox::Cancel, vbCancel}};
        case vbYesNo:
            return {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}};
        case 5:
            return {{QMessageBox::Retry, vbRetry}, {QMessageBox::Cancel, vbCancel}};
        default:
            return {{QMessageBox::Ok, vbOK}};
    }
}

// The window a box belongs to: the active window while it is shown on the
// screen, else none. A box given a hidden window (a splash already closed)
// could stay out of sight while the program waits for its answer.
QWidget* VisibleActiveWindow() {
    QWidget* active = QApplication::activeWindow();
    return active != nullptr && active->isVisible() && !active->isMinimized() ? active : nullptr;
}

// A box comes to the front and takes the keyboard once it is up, as the old
// boxes did: one of its own (before any window is shown, at start-up) would
// otherwise stay behind other programs, and one opened from a menu could be
// left without the keyboard by the window manager.
void BringToFrontWhenShown(QDialog& dialog) {
    QTimer::singleShot(0, &dialog, [&dialog] {
        dialog.raise();
        dialog.activateWindow();
    });
}

}  // namespace

QtDialogs::QtDialogs(std::string programTitle) : programTitle_(std::move(programTitle)) {}

QtDialogs::~QtDialogs() {
    if (cursorOverridden_) QApplication::restoreOverrideCursor();
}

int QtDialogs::MsgBox(std::string_view text, int style, std::string_view title) {
    QMessageBox box(VisibleActiveWindow());
    box.setWindowTitle(ShownText(title.empty() ? std::string_view(programTitle_) : title));
    box.setTextFormat(Qt::PlainText);
    box.setText(ShownText(text));
    box.setIcon(IconFor(style));

    std::vector<ButtonChoice> choices = ButtonsFor(style);
    std::vector<QPushButton*> buttons;
    buttons.reserve(choices.size());
    for (const ButtonChoice& choice : choices) buttons.push_back(box.addButton(choice.button));
    std::size_t defaultIndex = static_cast<std::size_t>((style & kDefaultButtonMask) >> 8);
    if (defaultIndex >= buttons.size()) defaultIndex = 0;
    box.setDefaultButton(buttons[defaultIndex]);
    // Escape answers Cancel or No where the box has one, as the old boxes did.
    for (std::size_t index = 0; index < choices.size(); ++index) {
        if (choices[index].answer == vbCancel) box.setEscapeButton(buttons[index]);
    }
    if (box.escapeButton() == nullptr && choices.size() == 1) box.setEscapeButton(buttons[0]);

    BringToFrontWhenShown(box);
    box.exec();
    for (std::size_t index = 0; index < buttons.size(); ++index) {
        if (box.clickedButton() == buttons[index]) return choices[index].answer;
    }
    // Closed without a button (window close on a Yes/No box): the last button.
    return choices.back().answer;
}

std::string QtDialogs::InputBox(std::string_view prompt, std::string_view title,
                                std::string_view defaultText) {
    QInputDialog dialog(VisibleActiveWindow());
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(ShownText(title.empty() ? std::string_view(programTitle_) : title));
    dialog.setLabelText(ShownText(prompt));
    for (QLabel* label : dialog.findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
    dialog.setTextValue(ShownText(defaultText));
    BringToFrontWhenShown(dialog);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.textValue().toStdString();
}

void QtDialogs::Beep() {
    QApplication::beep();
}

void QtDialogs::SetMousePointer(int pointer) {
    pointer_ = pointer;
    if (pointer == vbHourglass) {
        if (!cursorOverridden_) QApplication::setOverrideCursor(Qt::WaitCursor);
        cursorOverridden_ = true;
    } else if (cursorOverridden_) {
        QApplication::restoreOverrideCursor();
        cursorOverridden_ = false;
    }
}

void QtDialogs::DoEvents() {
    QCoreApplication::processEvents();
}

}  // namespace orvel::platform
