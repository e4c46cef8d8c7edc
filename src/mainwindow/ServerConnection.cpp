#include "mainwindow/ServerConnection.h"

#include <QPointer>
#include <QString>
#include <QTimer>
#include <array>
#include <utility>
#include <vector>

#include "launcher/ApplicationLaunch.h"
#include "platform/AsciiCase.h"
#include "platform/WindowSnapshot.h"
#include "status/ComponentStatus.h"
#include "status/LinkedSuiteServer.h"
#include "status/ServerReferences.h"
#include "suite/ServerName.h"
#include "suite/SuiteServerSettings.h"

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

constexpr auto kConnectHold = std::chrono::seconds(5);

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

ServerConnection::ServerConnection(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {}

bool ServerConnection::Connected() {
    return status::RefreshServerReferences(services_.table, local_, remote_);
}

bool ServerConnection::SelectedSideHasName() const {
    const auto& settings = services_.settings;
    return settings.LocalServerSelected ? !settings.LocalServerName.empty()
                                        : !settings.RemoteServerName.empty();
}

bool ServerConnection::ConnectHeld() const {
    return connectHoldUntil_ > services_.clock.Monotonic();
}

std::int16_t ServerConnection::OtherClientCount() {
    if (!local_) return 0;
    auto count = local_->GetClientCount();
    // A count the server could not give is no reason to hold the operator back.
    if (!count) return 0;
    return static_cast<std::int16_t>(*count - (services_.settings.LocalServerSelected ? 2 : 1));
}

std::shared_ptr<suiteclient::SuiteServer> ServerConnection::ReferenceOfKind(
    std::int16_t hostKind) const {
    if (hostKind == suite::kHostLocal) return local_;
    if (hostKind == suite::kHostRemote) return remote_;
    return nullptr;
}

void ServerConnection::ReportDComError(const platform::RuntimeError& error) {
    if (quiet_) return;
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

// ---------------------------------------------------------------- references

bool ServerConnection::CreateReferences() {
    const bool localMode = services_.settings.LocalServerSelected;
    auto local = services_.servers.CreateLocal();
    if (!local) {
        // The second creation would fail the same way: one box is enough.
        ReportDComError(local.error());
        return false;
    }
    auto remote = localMode ? services_.servers.CreateLocal()
                            : services_.servers.CreateRemote(services_.settings.RemoteServerName);
    if (!remote) {
        ReportDComError(remote.error());
        return false;
    }
    // Two instances of one server (local mode) share one fate: a hung server
    // is given up once for both.
    localFate_ = std::make_shared<status::SharedFate>();
    remoteFate_ = localMode ? localFate_ : std::make_shared<status::SharedFate>();
    local_ = std::make_shared<status::LinkedSuiteServer>(*local, localFate_);
    remote_ = std::make_shared<status::LinkedSuiteServer>(*remote, remoteFate_);
    AttachEvents();
    return true;
}

// The handlers hold only a guarded pointer: an event that arrives while the
// manager goes away does nothing.
void ServerConnection::AttachEvents() {
    QPointer<ServerConnection> self(this);
    for (std::int16_t kind : {suite::kHostLocal, suite::kHostRemote}) {
        suiteclient::SuiteServerEvents events;
        events.serverChange = [self, kind](std::int16_t index) {
            if (self) emit self->serverChange(kind, index);
        };
        events.message = [self](std::int16_t message, std::int16_t var, const std::string& text) {
            if (self) emit self->serverMessage(message, var, text);
        };

        auto& reference = kind == suite::kHostLocal ? local_ : remote_;
        reference->SetEventHandlers(std::move(events));
        // Handled from the event loop, never inside the caller that saw it.
        reference->SetLostHandler([self] {
            if (self) QTimer::singleShot(0, self.data(), [s = self.data()] { s->CheckForLoss(); });
        });
    }
}

void ServerConnection::ReleaseReference(std::shared_ptr<suiteclient::SuiteServer>& reference) {
    if (!reference) return;
    reference->SetEventHandlers({});
    reference->SetLostHandler({});
    reference.reset();
}

void ServerConnection::WithdrawRegistrations() {
    // A withdrawal that fails needs no box: the server drops the registration
    // of an instance whose connection is gone.
    WithdrawLocalRegistration();
    WithdrawRemoteRegistration();
    status::RefreshServerReferences(services_.table, local_, remote_);
}

void ServerConnection::WithdrawRemoteRegistration() {
    if (remote_) remote_->DisconnectClient();
    remoteClientNumber_ = 0;
    ReleaseReference(remote_);
    startedByConnection_ = {};
    status::RefreshServerReferences(services_.table, local_, remote_);
}

void ServerConnection::WithdrawLocalRegistration() {
    if (local_) local_->DisconnectClient();
    localClientNumber_ = 0;
    ReleaseReference(local_);
}

// ---------------------------------------------------------------- connect

bool ServerConnection::Register() {
    auto localNumber = local_->ConnectClient("ClientName");
    if (localNumber) localClientNumber_ = *localNumber;
    auto remoteNumber = localNumber ? remote_->ConnectClient("ClientName") : localNumber;
    if (remoteNumber) remoteClientNumber_ = *remoteNumber;
    const bool registered = localNumber && remoteNumber;
    if (!registered) {
        // Without a registration on both servers the console is not connected.
        ReportDComError((localNumber ? remoteNumber : localNumber).error());
    }
    return registered;
}

void ServerConnection::StartForLocalConnection() {
    for (int i = 0; i < suite::kComponentSlots; ++i) {
        const auto& entry = services_.table[static_cast<std::size_t>(i)];
        if (entry.intStartMode != suite::kStartWithLocalConnection) continue;
        auto target = ReferenceOfKind(entry.intHostKind);
        if (!target) continue;
        auto result = target->StartComponent(static_cast<std::int16_t>(i));
        if (!result) {
            ReportDComError(result.error());
            // A lost server ends the connect at its first failure.
            if (AnyReferenceLost()) return;
        } else {
            startedByConnection_[static_cast<std::size_t>(i)] = true;
        }
    }
}

void ServerConnection::StartForRemoteConnection() {
    for (int i = 0; i < suite::kComponentSlots && local_; ++i) {
        const auto& entry = services_.table[static_cast<std::size_t>(i)];
        if (entry.intStartMode != suite::kStartWithRemoteConnection ||
            entry.intHostKind != suite::kHostLocal) {
            continue;
        }
        if (auto result = local_->StartComponent(static_cast<std::int16_t>(i)); !result) {
            ReportDComError(result.error());
            if (AnyReferenceLost()) return;
        }
    }
}

// The active set is asked only of a server that is there.
void ServerConnection::CheckActiveSet() {
    if (!remote_ || !Connected()) return;
    auto activeSet = remote_->GetActiveSet();
    if (!activeSet) {
        ReportDComError(activeSet.error());
    } else if (*activeSet == suite::kNoActiveSet && !(quiet_ && activeSetToldThisLoss_)) {
        activeSetToldThisLoss_ = true;
        services_.dialogs.MsgBox(
            std::string("There currently is no Active Set on the Orvel File Server") + CR + CR +
                "Many Orvel Applications will not run properly" + CR + "without an Active Set !" +
                CR + CR + "Run the Corvane Compiler and/or" + CR +
                "Control Center to make your selection.",
            vbExclamation, "No Active CORVANE Set Selected");
    }
}

void ServerConnection::Connect() {
    auto& settings = services_.settings;
    if (!SelectedSideHasName()) {
        if (!quiet_) {
            services_.dialogs.MsgBox("You must select a LOCAL or REMOTE Server before connecting",
                                     vbExclamation, "Select LOCAL or REMOTE Server");
        }
        return;
    }
    if (!quiet_) {
        // The operator's own connect: any earlier loss is history.
        retrying_ = false;
        lossNotice_.clear();
    }
    connecting_ = true;
    struct EndConnecting {
        bool& flag;
        ~EndConnecting() { flag = false; }
    } endConnecting{connecting_};
    emit connecting();
    if (!(CreateReferences() && Connected())) {
        ReleaseReference(local_);
        ReleaseReference(remote_);
    } else {
        emit registering();
        const bool registered = Register();
        if (registered && settings.LocalServerSelected) {
            StartForLocalConnection();
            emit sideLocked(true);
        } else if (!registered || remoteClientNumber_ == 1) {
            if (registered && !quiet_) {
                services_.dialogs.MsgBox(
                    std::string("A Orvel Host application is NOT running on the server !") + CR +
                        CR +
                        "You CANNOT run a REMOTE session without a Orvel Host running on the "
                        "server...",
                    vbCritical, "");
            }
            // Withdraw what was registered and leave as a disconnection does.
            // A server without a host console is left first, then the local one.
            if (registered) {
                WithdrawRemoteRegistration();
                WithdrawLocalRegistration();
                status::RefreshServerReferences(services_.table, local_, remote_);
            } else {
                WithdrawRegistrations();
            }
            emit disconnected();
            emit identityChanged();
            emit rowsChanged();
            return;
        } else {
            emit sideLocked(false);
            emit identityChanged();
            services_.dialogs.DoEvents();
            StartForRemoteConnection();
        }
        if (AnyReferenceLost()) {
            EndLostConnect();
            return;
        }
    }
    CheckActiveSet();
    if (AnyReferenceLost()) {
        EndLostConnect();
        return;
    }
    if (!Connected()) emit disconnected();
    emit identityChanged();
    emit rowsChanged();
    if (Connected()) {
        // It stands: a later loss is tried again, quietly.
        retrying_ = true;
        lossNotice_.clear();
    }
}

// A connect that did not stand: what was registered is withdrawn, and the
// window returns to its disconnected look.
void ServerConnection::EndLostConnect() {
    WithdrawRegistrations();
    emit disconnected();
    emit sidesReleased();
    emit identityChanged();
    emit rowsChanged();
}

bool ServerConnection::AnyReferenceLost() const {
    return (local_ && localFate_ && localFate_->lost) ||
           (remote_ && remoteFate_ && remoteFate_->lost);
}

// ---------------------------------------------------------------- lost connection

bool ServerConnection::CheckForLoss() {
    if (connecting_ || !AnyReferenceLost()) return false;
    const auto& settings = services_.settings;
    const std::string name =
        settings.LocalServerSelected ? settings.LocalServerName : settings.RemoteServerName;
    // The lost references answer 462 at once and are released without a
    // call; a reference that still stands has its registration withdrawn.
    WithdrawRegistrations();
    emit disconnected();
    launcher::CheckApplicationFiles(services_.catalogue, services_.fileSystem);
    emit sidesReleased();
    emit identityChanged();
    emit rowsChanged();
    lossNotice_ = "Connection to " + name + " lost";
    activeSetToldThisLoss_ = false;
    nextRetry_ = services_.clock.Monotonic() + retryInterval_;
    emit connectionLost(lossNotice_);
    return true;
}

void ServerConnection::RetryIfDue() {
    if (!retrying_ || connecting_ || local_ || services_.clock.Monotonic() < nextRetry_) return;
    quiet_ = true;
    Connect();
    quiet_ = false;
    if (!local_) nextRetry_ = services_.clock.Monotonic() + retryInterval_;
}

void ServerConnection::StopRetrying() {
    retrying_ = false;
    lossNotice_.clear();
}

// ---------------------------------------------------------------- disconnect

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
    const auto index = launcher::FindRunningApplication(services_.catalogue, services_.windows);
    if (index <= 0) return true;
    const auto& app = services_.catalogue[static_cast<std::size_t>(index)];
    const int answer =
        dialogs.MsgBox(std::string("Cannot Disconnect !") + CR + CR + "'" + app.DisplayName +
                           "' is still Running" + CR + CR + "Do you want to Close the Application?",
                       vbYesNo + vbCritical, "Cannot Disconnect Orvel Server");
    if (answer == vbYes) {
        services_.windows.PostMessageA(app.WindowHandle, platform::WM_CLOSE, 1, 1);
    } else {
        services_.windows.ShowWindow(app.WindowHandle, platform::SW_SHOWNORMAL);
        services_.windows.BringWindowToTop(app.WindowHandle);
    }
    return false;
}

bool ServerConnection::Disconnect() {
    if (!ConsentToDisconnect()) return false;
    StopRetrying();
    WithdrawRegistrations();
    emit disconnected();
    launcher::CheckApplicationFiles(services_.catalogue, services_.fileSystem);
    emit sidesReleased();
    connectHoldUntil_ = services_.clock.Monotonic() + kConnectHold;
    emit identityChanged();
    emit rowsChanged();
    Connected();
    return true;
}

// ---------------------------------------------------------------- selection and exit

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

// ---------------------------------------------------------------- component servers

void ServerConnection::ConnectAll() {
    if (!Connected()) return;
    for (int slot : {3, 7, 11})
        status::StartComponentServer(services_.table, slot, services_.dialogs);
    for (int slot = 0; slot < suite::kComponentSlots; ++slot) {
        status::StartComponentServer(services_.table, slot, services_.dialogs);
        services_.table[static_cast<std::size_t>(slot)].blnKeepRunning = true;
    }
}

void ServerConnection::DisconnectAll() {
    if (!Connected()) return;
    if (launcher::FindRunningApplication(services_.catalogue, services_.windows) > 0) {
        services_.dialogs.MsgBox("Cannot Stop Servers while Applications are running",
                                 vbInformation, "Applications Are Running");
        return;
    }
    for (int slot = 0; slot < suite::kComponentSlots; ++slot) {
        status::StopComponentServer(services_.table, slot);
        services_.table[static_cast<std::size_t>(slot)].blnKeepRunning = false;
    }
}

void ServerConnection::StopUnneededServers() {
    if (!Connected()) return;
    if (services_.settings.LocalServerSelected && OtherClientCount() != 0) return;
    std::array<bool, suite::kComponentSlots> needed{};
    // Every entry's window is looked up, all together in one pass.
    std::vector<std::string> titles;
    for (const auto& app : services_.catalogue) titles.push_back(app.WindowTitle);
    platform::WindowSnapshot windowsNow(services_.windows, std::move(titles));
    for (int index = 0; index < launcher::kCatalogueSize; ++index) {
        auto& app = services_.catalogue[static_cast<std::size_t>(index)];
        app.WindowHandle = windowsNow.FindWindowA(app.WindowTitle);
        if (app.WindowHandle == 0 && !launcher::LaunchedProcessAlive(app, services_.starter)) {
            continue;
        }
        for (auto slot : launcher::RequiredServersOf(index).startList) {
            needed[static_cast<std::size_t>(slot)] = true;
        }
    }
    for (int slot = 0; slot < suite::kComponentSlots; ++slot) {
        const auto s = static_cast<std::size_t>(slot);
        auto& entry = services_.table[s];
        if (needed[s] || entry.blnKeepRunning || startedByConnection_[s] || !entry.objServer) {
            continue;
        }
        auto code = entry.objServer->GetComponentStatus(static_cast<std::int16_t>(slot));
        if (!code) return;  // ends at its first error
        if (*code == status::kStatusRunning && entry.intHostKind == suite::kHostLocal) {
            if (!entry.objServer->StopComponent(static_cast<std::int16_t>(slot))) return;
            emit rowsChanged();
            if (!Connected()) return;
        }
    }
}

}  // namespace orvel::mainwindow
