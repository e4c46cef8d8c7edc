#include "suite/OperatorGroup.h"

#include "platform/Dialogs.h"

namespace orvel::suite {

std::string NotOperatorMessage(const std::string& userName) {
    const std::string name = userName.empty() ? "YOUR-USER-NAME" : userName;
    return std::string("You are not a member of the group ") + kOperatorGroup + "." + platform::CR +
           platform::CR + "Ask your administrator to add you (adduser " + name + " " +
           kOperatorGroup + "), then log in again.";
}

}  // namespace orvel::suite
