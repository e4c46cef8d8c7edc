#pragma once

#include <string>

#include "platform/Dialogs.h"

namespace orvel::platform {

// Message and input boxes with QMessageBox and QInputDialog; the beep, the
// hourglass pointer (override cursor) and DoEvents. Texts are shown as plain
// text, CR becoming a line break; boxes open over the active window.
class QtDialogs final : public Dialogs {
  public:
    explicit QtDialogs(std::string programTitle = "Orvel Console");
    ~QtDialogs() override;
    QtDialogs(const QtDialogs&) = delete;
    QtDialogs& operator=(const QtDialogs&) = delete;

    int MsgBox(std::string_view text, int style, std::string_view title) override;
    std::string InputBox(std::string_view prompt, std::string_view title,
                         std::string_view defaultText) override;
    void Beep() override;
    int MousePointer() override { return pointer_; }
    void SetMousePointer(int pointer) override;
    void DoEvents() override;

  private:
    std::string programTitle_;
    int pointer_ = vbDefault;
    bool cursorOverridden_ = false;
};

}  // namespace orvel::platform
