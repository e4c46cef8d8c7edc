#include "dcom/DComTexts.h"

namespace orvel::dcom {

void ShowCorrectionOutcome(platform::Dialogs& dialogs, const std::vector<std::string>& notWritten,
                           std::string_view failureTitle) {
    if (notWritten.empty()) {
        dialogs.MsgBox("Changes will not be in effect until next REBOOT of computer...",
                       platform::vbInformation + platform::vbOKOnly, "Changes on next Reboot");
        return;
    }
    std::string text = "Unable to save these values in the Registry:";
    for (const std::string& valueName : notWritten)
        text += std::string(1, platform::CR) + "      " + valueName;
    text += std::string(2, platform::CR) + "The Configuration is NOT corrected";
    dialogs.MsgBox(text, platform::vbCritical + platform::vbOKOnly, failureTitle);
}

}  // namespace orvel::dcom
