#pragma once

// Scripted dialogs: every box is recorded; each box must have been expected
// (by its title, in order) and is answered from the script. A box the script
// did not expect fails the test.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace orvel::fakes {

struct RecordedBox {
    std::string text;
    int style = 0;
    std::string title;
};

class FakeDialogs : public platform::Dialogs {
  public:
    // Expects the next box to carry this title; answers it with answer.
    FakeDialogs& ExpectBox(std::string title, int answer = platform::vbOK);
    // Expects the next input box; answers with text ("" is Cancel).
    FakeDialogs& ExpectInput(std::string answer);
    // Lets any number of further boxes through unchecked, answered with OK.
    void AllowUnexpected(bool allow) { allowUnexpected_ = allow; }
    // True when every scripted box and input has been shown.
    bool ScriptDone() const { return boxScript_.empty() && inputScript_.empty(); }

    int MsgBox(std::string_view text, int style, std::string_view title) override;
    std::string InputBox(std::string_view prompt, std::string_view title,
                         std::string_view defaultText) override;
    void Beep() override { ++beeps; }
    int MousePointer() override { return pointer; }
    void SetMousePointer(int value) override { pointer = value; }
    void DoEvents() override {}

    std::vector<RecordedBox> boxes;
    std::vector<RecordedBox> inputs;  // prompt in text, default in style-less title pair
    std::vector<std::string> inputDefaults;
    int beeps = 0;
    int pointer = platform::vbDefault;

  private:
    struct Step {
        std::string title;
        int answer = platform::vbOK;
    };
    std::deque<Step> boxScript_;
    std::deque<std::string> inputScript_;
    bool allowUnexpected_ = false;
};

}  // namespace orvel::fakes
