#pragma once

// Message boxes, the input box and the other small user-interface services,
// with the Windows style numbers and answers. Texts use CR (13) as their only
// line break; the implementation turns it into a line break when showing.

#include <string>
#include <string_view>

namespace orvel::platform {

inline constexpr int vbOKOnly = 0;
inline constexpr int vbYesNo = 4;
inline constexpr int vbCritical = 16;
inline constexpr int vbQuestion = 32;
inline constexpr int vbExclamation = 48;
inline constexpr int vbInformation = 64;
inline constexpr int vbDefaultButton2 = 256;

inline constexpr int vbOK = 1;
inline constexpr int vbYes = 6;
inline constexpr int vbNo = 7;

inline constexpr char CR = '\r';

// Mouse pointer shapes as the old screen object numbered them.
inline constexpr int vbDefault = 0;
inline constexpr int vbHourglass = 11;

class Dialogs {
  public:
    virtual ~Dialogs() = default;

    // An empty title shows the program title "Orvel Console".
    virtual int MsgBox(std::string_view text, int style, std::string_view title) = 0;
    // Returns the typed text, or "" for Cancel (as the old input box did).
    virtual std::string InputBox(std::string_view prompt, std::string_view title,
                                 std::string_view defaultText) = 0;
    virtual void Beep() = 0;
    virtual int MousePointer() = 0;
    virtual void SetMousePointer(int pointer) = 0;
    // Lets pending window events run (DoEvents).
    virtual void DoEvents() = 0;
};

}  // namespace orvel::platform
