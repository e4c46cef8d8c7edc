#include "FakeDialogs.h"

#include <gtest/gtest.h>

namespace orvel::fakes {

FakeDialogs& FakeDialogs::ExpectBox(std::string title, int answer) {
    boxScript_.push_back({std::move(title), answer});
    return *this;
}

FakeDialogs& FakeDialogs::ExpectInput(std::string answer) {
    inputScript_.push_back(std::move(answer));
    return *this;
}

int FakeDialogs::MsgBox(std::string_view text, int style, std::string_view title) {
    boxes.push_back({std::string(text), style, std::string(title)});
    if (boxScript_.empty()) {
        if (!allowUnexpected_) ADD_FAILURE() << "unexpected box \"" << title << "\": " << text;
        return platform::vbOK;
    }
    Step step = boxScript_.front();
    boxScript_.pop_front();
    EXPECT_EQ(step.title, title) << "box text: " << text;
    return step.answer;
}

std::string FakeDialogs::InputBox(std::string_view prompt, std::string_view title,
                                  std::string_view defaultText) {
    inputs.push_back({std::string(prompt), 0, std::string(title)});
    inputDefaults.emplace_back(defaultText);
    if (inputScript_.empty()) {
        ADD_FAILURE() << "unexpected input box \"" << title << "\": " << prompt;
        return {};
    }
    std::string answer = inputScript_.front();
    inputScript_.pop_front();
    return answer;
}

}  // namespace orvel::fakes
