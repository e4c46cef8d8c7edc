#include "mainwindow/ServerConnection.h"

// The operator's questions and the connection's boxes: the DCom errors, the
// consent to disconnect or exit, the remote server's name.

#include "launcher/ApplicationLaunch.h"
#include "platform/AsciiCase.h"
#include "suite/OperatorGroup.h"
#include "suite/ServerName.h"

namespace orvel::mainwindow {

using platform::CR;
using platform::vbCritical;
using platform::vbDefaultButton2;
using platform::vbExclamation;
using platform::vbInformation;
using platform::vbQuestion;
using platform::vbYes;
using platform::vbYesNo;

namespace {

std::string DComReason(int number) {
    switch (number) {
        case platform::kErrPermissionDenied:
            return "'Access is Denied'";
        case platform::kErrObjectNotSet:
        case platform::kErrCannotCreateObject:
            return "'Cannot Start DCom'";
        default:
            return "'General DCom Error'";
    }
}

}  // namespace

void ServerConnection::ReportDComError(const platform::RuntimeError& error, bool quiet) {
    // The precise reason of a refusal stays in the status bar after the box.
    if (!error.reason.empty() && Busy()) {
        if (quiet) {
            notice_.toolTip =
                notice_.text + "; connecting again by itself; last try: " + error.reason;
        } else {
            notice_ = {"Not connected: " + error.reason,
                       "DCom Error " + std::to_string(error.number) + ": " + error.reason};
        }
    }
    if (quiet) return;
    // A user outside the operators' group can do nothing about the DCom
    // advice: they hear what to ask their administrator for instead.
    if (error.number == platform::kErrPermissionDenied &&
        error.reason == suite::kNotOperatorReason) {
        services_.dialogs.MsgBox(suite::NotOperatorMessage(services_.userName), vbExclamation,
                                 suite::kNotOperatorTitle);
        return;
    }
    const std::string& p = services_.productName;
    const std::string help = std::string() + CR + CR + "A possible reason is that the " + p +
                             " on the" + CR + "      Orvel File Server is not running. Start the " +
                             p + " on the" + CR + "      Orvel File Server and try again..." + CR +
                             CR + "If this does not correct the problem" + CR +
                             "      Check the DCom Configuration on the Client/Server." + CR + CR +
                             "NOTE: If the Orvel File Server is a WIN95/98 machine, you MUST " +
                             CR + "      be running the " + p + " application." + CR + CR +
                             "NOTE: If the Server is an NT/2000 machine, you may need" + CR +
                             "      to configure the DCom Remote Access Permissions." + CR;
    services_.dialogs.MsgBox(DComReason(error.number) + help + CR + "(" + error.description + ")",
                             vbCritical, "DCom Error: " + std::to_string(error.number));
}

// The one box a retry shows too: once per connection regained.
void ServerConnection::ShowActiveSetBox() {
    services_.dialogs.MsgBox(
        std::string("There currently is no Active Set on the Orvel File Server") + CR + CR +
            "Many Orvel Applications will not run properly" + CR + "without an Active Set !" + CR +
            CR + "Run the Corvane Compiler and/or" + CR + "Control Center to make your selection.",
        vbExclamation, "No Active CORVANE Set Selected");
}

bool ServerConnection::ConsentToDisconnect() {
    auto& dialogs = services_.dialogs;
    if (services_.settings.LocalServerSelected && OtherClientCount() != 0) {
        const int count = local_ ? local_->GetClientCount().value_or(2) - 2 : 0;
        const int answer = dialogs.MsgBox(
            "This Server has " + std::to_string(count) +
                " Client(s) connected, do you want to Disconnect?" + CR + CR +
                "The Remote Client(s) will NOT be disconnected from the Orvel_Server...",
            vbYesNo + vbQuestion + vbDefaultButton2, "Disconnect Server");
        if (answer != vbYes) return false;
    }
    auto& catalogue = services_.catalogue;
    const auto index = launcher::FindRunningApplication(catalogue, services_.windows);
    if (index <= 0) return true;
    const int answer =
        dialogs.MsgBox(std::string("Cannot Disconnect !") + CR + CR + "'" +
                           catalogue[static_cast<std::size_t>(index)].DisplayName +
                           "' is still Running" + CR + CR + "Do you want to Close the Application?",
                       vbYesNo + vbCritical, "Cannot Disconnect Orvel Server");
    // The answer acts on the tool's window as it is now: while the box stood
    // the tool may have closed, or opened another window.
    const auto now = launcher::FindRunningApplication(catalogue, services_.windows);
    if (now > 0) {
        const auto handle = catalogue[static_cast<std::size_t>(now)].WindowHandle;
        if (answer == vbYes) {
            services_.windows.PostMessageA(handle, platform::WM_CLOSE, 1, 1);
        } else {
            services_.windows.ShowWindow(handle, platform::SW_SHOWNORMAL);
            services_.windows.BringWindowToTop(handle);
        }
    }
    return false;
}

bool ServerConnection::AskRemoteServerName(std::string& name) {
    auto& settings = services_.settings;
    // Upper case by the ASCII rule: a locale's own rule would change other letters.
    name = platform::ToAsciiUpper(
        services_.dialogs.InputBox("Enter the Corvane Servername or IP Address",
                                   "Remote Server Name", settings.RemoteServerName));
    if (name.empty() || suite::IsValidServerName(name)) return true;
    services_.dialogs.MsgBox("'" + name + "' is not a valid server name or IP address." + CR + CR +
                                 "Enter a computer name (letters, digits, hyphens and dots)" + CR +
                                 "      or an IP address such as 192.168.1.10.",
                             vbExclamation, "Remote Server Name");
    return false;
}

void ServerConnection::SelectRemoteServer(const std::string& name) {
    services_.settings.LocalServerSelected = false;
    services_.settings.RemoteServerName = name;
}

bool ServerConnection::ChooseRemoteServer() {
    std::string name;
    if (!AskRemoteServerName(name)) return false;
    if (name.empty()) {
        services_.settings.LocalServerSelected = true;
        services_.settings.LocalServerName = "Local Server";
    } else {
        SelectRemoteServer(name);
    }
    return true;
}

bool ServerConnection::ChooseRemoteServerForRole() {
    std::string name;
    if (!AskRemoteServerName(name) || name.empty()) return false;
    SelectRemoteServer(name);
    return true;
}

bool ServerConnection::ConsentToExit() {
    auto& dialogs = services_.dialogs;
    if (services_.settings.LocalServerSelected && OtherClientCount() != 0) {
        const int answer = dialogs.MsgBox(
            "This Server has " + std::to_string(OtherClientCount()) +
                " Client(s) connected, do you want to close this application?" + CR + CR +
                "The Remote Client(s) will NOT be disconnected from the Orvel_Server...",
            vbYesNo + vbQuestion + vbDefaultButton2, "Disconnect Server");
        if (answer != vbYes) return false;
    }
    if (launcher::FindRunningApplication(services_.catalogue, services_.windows) <= 0) return true;
    const auto index = launcher::FindRunningApplication(services_.catalogue, services_.windows);
    const auto& app = services_.catalogue[static_cast<std::size_t>(index)];
    dialogs.MsgBox(std::string("Cannot Exit the Orvel Console") + CR + CR + "The '" +
                       app.DisplayName + "' is still Running" + CR + CR +
                       "Close Application then Exit",
                   vbCritical, "Cannot Exit Orvel Control Center");
    services_.windows.ShowWindow(app.WindowHandle, platform::SW_SHOWNORMAL);
    services_.windows.BringWindowToTop(app.WindowHandle);
    return false;
}

void ServerConnection::WarnOfForcedClose() {
    if (!remote_) return;
    auto remoteCount = remote_->GetClientCount();
    if (local_ && remoteClientNumber_ == 1 && remoteCount && *remoteCount > 1) {
        // The box gives the local count: without it there is nothing true to say.
        if (auto localCount = local_->GetClientCount()) {
            services_.dialogs.MsgBox(
                "This Server has " + std::to_string(*localCount - 1) + " Client(s) connected." +
                    CR + CR + "You are FORCING close of this application..." + CR + CR +
                    "The Remote Client(s) will NOT be disconnected from the Orvel_Server...",
                vbCritical, "Disconnecting Server");
        }
    }
    const auto index = launcher::FindRunningApplication(services_.catalogue, services_.windows);
    if (index > 0) {
        services_.dialogs.MsgBox(
            std::string("FORCING Exit !") + CR + CR + "'" +
                services_.catalogue[static_cast<std::size_t>(index)].DisplayName +
                "' is still Running" + CR + CR,
            vbInformation, "Exiting Orvel Control Center...");
    }
}

}  // namespace orvel::mainwindow
