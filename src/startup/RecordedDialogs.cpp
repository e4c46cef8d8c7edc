#include "startup/RecordedDialogs.h"

#include <fstream>
#include <utility>
#include <vector>

namespace orvel::startup {

namespace {

constexpr int kButtonsMask = 0x7;
constexpr int kDefaultButtonMask = 0x300;
constexpr int kDefaultButtonShift = 8;

// The answers of each button set, in the order the boxes show them.
std::vector<int> AnswersOf(int style) {
    switch (style & kButtonsMask) {
        case 1:
            return {1, 2};  // OK, Cancel
        case 2:
            return {3, 4, 5};  // Abort, Retry, Ignore
        case 3:
            return {6, 7, 2};  // Yes, No, Cancel
        case 4:
            return {6, 7};  // Yes, No
        case 5:
            return {4, 2};  // Retry, Cancel
        default:
            return {1};  // OK
    }
}

// One line per box: line breaks of the text become spaces.
std::string OneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    }
    return line;
}

}  // namespace

int DefaultAnswer(int style) {
    const std::vector<int> answers = AnswersOf(style);
    const auto index =
        static_cast<std::size_t>((style & kDefaultButtonMask) >> kDefaultButtonShift);
    return index < answers.size() ? answers[index] : answers.front();
}

RecordedDialogs::RecordedDialogs(platform::Dialogs& inner, std::string recordPath)
    : inner_(inner), recordPath_(std::move(recordPath)) {}

int RecordedDialogs::MsgBox(std::string_view text, int style, std::string_view title) {
    Record("MsgBox", title, text);
    return DefaultAnswer(style);
}

std::string RecordedDialogs::InputBox(std::string_view prompt, std::string_view title,
                                      std::string_view defaultText) {
    Record("InputBox", title, prompt);
    return std::string(defaultText);
}

void RecordedDialogs::Record(std::string_view kind, std::string_view title, std::string_view text) {
    std::ofstream out(recordPath_, std::ios::app);
    out << kind << '\t' << OneLine(title) << '\t' << OneLine(text) << '\n';
}

}  // namespace orvel::startup
