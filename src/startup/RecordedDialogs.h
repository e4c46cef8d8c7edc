#pragma once

// Boxes answered without being shown, each one recorded as a line of a file:
// for scripted checks of an installed console (ORVEL_RECORD_BOXES), where no
// one is there to press a button. The other services are the real ones.

#include <string>

#include "platform/Dialogs.h"

namespace orvel::startup {

class RecordedDialogs final : public platform::Dialogs {
  public:
    // Appends to recordPath; inner serves the beep, the pointer and DoEvents.
    RecordedDialogs(platform::Dialogs& inner, std::string recordPath);

    // Records "MsgBox<TAB>title<TAB>text" and answers with the style's default button.
    int MsgBox(std::string_view text, int style, std::string_view title) override;
    // Records "InputBox<TAB>title<TAB>prompt" and answers with the default text.
    std::string InputBox(std::string_view prompt, std::string_view title,
                         std::string_view defaultText) override;
    void Beep() override { inner_.Beep(); }
    int MousePointer() override { return inner_.MousePointer(); }
    void SetMousePointer(int pointer) override { inner_.SetMousePointer(pointer); }
    void DoEvents() override { inner_.DoEvents(); }

  private:
    void Record(std::string_view kind, std::string_view title, std::string_view text);

    platform::Dialogs& inner_;
    std::string recordPath_;
};

// The answer a box of this style gives when its default button is pressed.
int DefaultAnswer(int style);

}  // namespace orvel::startup
