#include "mainwindow/ServerConnection.h"

#include <QPointer>
#include <QString>
#include <QTimer>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "launcher/ApplicationLaunch.h"
#include "platform/AsciiCase.h"
#include "platform/WindowSnapshot.h"
#include "status/ComponentStatus.h"
#include "status/LinkedSuiteServer.h"
#include "status/ServerReferences.h"
#include "suite/OperatorGroup.h"
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

// What one connect asks of the servers and what they answered. The worker
// fills it; the user-interface thread applies it.
struct ServerConnection::ConnectRun {
    // Asked.
    std::uint64_t attempt = 0;
    bool localMode = true;
    std::string remoteName;
    // Every entry's host kind can be bound to a reference.
    bool bindable = true;
    // The components the connection starts: slot and host kind, in slot order.
    std::vector<std::pair<std::int16_t, std::int16_t>> starts;
    suiteclient::SuiteServerFactory* servers = nullptr;

    // Answered.
    std::optional<platform::RuntimeError> creationError;
    std::shared_ptr<suiteclient::SuiteServer> local;
    std::shared_ptr<suiteclient::SuiteServer> remote;
    platform::Outcome<std::int16_t> localNumber{platform::MakeError(platform::kErrObjectNotSet)};
    platform::Outcome<std::int16_t> remoteNumber{platform::MakeError(platform::kErrObjectNotSet)};
    std::vector<platform::RuntimeError> startErrors;
    std::array<bool, suite::kComponentSlots> started{};
    std::optional<platform::Outcome<std::string>> activeSet;
    std::string serverName;
    // A call ended in 462: the connect cannot stand.
    bool lost = false;
    // The worker already withdrew the registrations (and released the references).
    bool withdrawn = false;

    bool Registered() const { return localNumber && remoteNumber; }
};

namespace {

std::shared_ptr<status::ServerWorker> MakeWorker(const platform::UiDispatcher* dispatcher) {
    return std::make_shared<status::ServerWorker>(dispatcher ? status::ServerWorker::Mode::Threaded
                                                             : status::ServerWorker::Mode::Inline);
}

}  // namespace

ServerConnection::ServerConnection(Services services, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      worker_(MakeWorker(services_.dispatcher)),
      calls_(MakeWorker(services_.dispatcher)) {
    if (auto* dispatcher = services_.dispatcher) {
        QPointer<ServerConnection> self(this);
        calls_->SetCaughtUp([self, dispatcher] {
            dispatcher->Post([self] {
                if (self) self->CatchUp();
            });
        });
    }
}

ServerConnection::~ServerConnection() {
    // The withdrawals first: they release references whose last calls are the other's.
    worker_->Stop();
    calls_->Stop();
}

void ServerConnection::CatchUp() {
    if (!Connected() || AnyReferenceLost()) return;
    emit identityChanged();
    emit rowsChanged();
}

bool ServerConnection::BindReferences() {
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

void ServerConnection::OffUi(std::function<void()> job, std::function<void()> apply) {
    if (!worker_->Threaded() || services_.dispatcher == nullptr) {
        job();
        apply();
        return;
    }
    QPointer<ServerConnection> self(this);
    auto* dispatcher = services_.dispatcher;
    worker_->Post([job = std::move(job), apply = std::move(apply), self, dispatcher]() mutable {
        job();
        dispatcher->Post([apply = std::move(apply), self] {
            if (self) apply();
        });
    });
}

// ---------------------------------------------------------------- references

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

// Silences the references and lets them go without a call of their own.
void ServerConnection::ReleaseReferences() {
    for (auto* reference : {&local_, &remote_}) {
        if (!*reference) continue;
        (*reference)->SetEventHandlers({});
        (*reference)->SetLostHandler({});
        reference->reset();
    }
    localClientNumber_ = 0;
    remoteClientNumber_ = 0;
    startedByConnection_ = {};
    BindReferences();
}

void ServerConnection::WithdrawRegistrations() {
    // A withdrawal that fails needs no box: the server drops the registration
    // of an instance whose connection is gone. The calls (and the releases
    // after them) are the worker's: a stopped server does not hold the window.
    auto local = local_;
    auto remote = remote_;
    ReleaseReferences();
    if (state_ == ConnectionState::Connected) state_ = ConnectionState::Disconnected;
    if (!local && !remote) return;
    worker_->Post([local = std::move(local), remote = std::move(remote)] {
        if (local) local->DisconnectClient();
        if (remote) remote->DisconnectClient();
    });
}

void ServerConnection::WithdrawLocalRegistration() {
    auto local = local_;
    if (local_) {
        local_->SetEventHandlers({});
        local_->SetLostHandler({});
        local_.reset();
    }
    localClientNumber_ = 0;
    if (state_ == ConnectionState::Connected) state_ = ConnectionState::Disconnected;
    if (local) worker_->Post([local = std::move(local)] { local->DisconnectClient(); });
}

// ---------------------------------------------------------------- connect

void ServerConnection::Connect() {
    if (!SelectedSideHasName()) {
        services_.dialogs.MsgBox("You must select a LOCAL or REMOTE Server before connecting",
                                 vbExclamation, "Select LOCAL or REMOTE Server");
        return;
    }
    switch (state_) {
        case ConnectionState::Connecting:
        case ConnectionState::Connected:
            return;
        case ConnectionState::Reconnecting:
            // The retry under way becomes the operator's connect: its boxes show.
            state_ = ConnectionState::Connecting;
            notice_ = {};
            emit connecting();
            return;
        case ConnectionState::Disconnected:
        case ConnectionState::Lost:
            BeginConnect(false);
            return;
    }
}

void ServerConnection::BeginConnect(bool quiet) {
    const auto& settings = services_.settings;
    state_ = quiet ? ConnectionState::Reconnecting : ConnectionState::Connecting;
    // The operator's own connect: any earlier loss or refusal is history.
    if (!quiet) notice_ = {};
    emit connecting();

    auto run = std::make_shared<ConnectRun>();
    run->attempt = ++attempt_;
    run->localMode = settings.LocalServerSelected;
    run->remoteName = settings.RemoteServerName;
    run->servers = &services_.servers;
    for (int i = 0; i < suite::kComponentSlots; ++i) {
        const auto& entry = services_.table[static_cast<std::size_t>(i)];
        if (entry.intHostKind < suite::kHostNone || entry.intHostKind > suite::kHostRemote) {
            run->bindable = false;
        }
        const bool starts = run->localMode
                                ? entry.intStartMode == suite::kStartWithLocalConnection &&
                                      entry.intHostKind != suite::kHostNone
                                : entry.intStartMode == suite::kStartWithRemoteConnection &&
                                      entry.intHostKind == suite::kHostLocal;
        if (starts) run->starts.emplace_back(static_cast<std::int16_t>(i), entry.intHostKind);
    }
    OffUi([run] { RunConnect(*run); }, [this, run] { FinishConnect(*run); });
}

namespace {

bool IsLoss(const platform::RuntimeError& error) {
    return error.number == platform::kErrServerUnavailable;
}

}  // namespace

// On the worker: every server call of the connect, in the connect's order.
// The boxes they call for are shown afterwards, in the same order.
void ServerConnection::RunConnect(ConnectRun& run) {
    auto local = run.servers->CreateLocal();
    if (!local) {
        // The second creation would fail the same way: one box is enough.
        run.creationError = local.error();
        return;
    }
    auto remote =
        run.localMode ? run.servers->CreateLocal() : run.servers->CreateRemote(run.remoteName);
    if (!remote) {
        run.creationError = remote.error();
        return;
    }
    // Entries that cannot be bound: not connected, both references released.
    if (!run.bindable) return;
    run.local = *local;
    run.remote = *remote;

    run.localNumber = run.local->ConnectClient("ClientName");
    run.remoteNumber = run.localNumber ? run.remote->ConnectClient("ClientName") : run.localNumber;
    auto withdraw = [&run](bool remoteFirst) {
        auto& first = remoteFirst ? run.remote : run.local;
        auto& second = remoteFirst ? run.local : run.remote;
        first->DisconnectClient();
        second->DisconnectClient();
        run.local.reset();
        run.remote.reset();
        run.withdrawn = true;
    };
    if (!run.Registered() || (!run.localMode && *run.remoteNumber == 1)) {
        // Without a registration on both servers the console is not
        // connected; a server without a host console is left first.
        withdraw(run.Registered());
        return;
    }
    for (const auto& [slot, hostKind] : run.starts) {
        auto& target = hostKind == suite::kHostLocal ? run.local : run.remote;
        auto result = target->StartComponent(slot);
        if (result) {
            run.started[static_cast<std::size_t>(slot)] = run.localMode;
            continue;
        }
        run.startErrors.push_back(result.error());
        // A lost server ends the connect at its first failure.
        if (IsLoss(result.error())) {
            run.lost = true;
            break;
        }
    }
    if (!run.lost) {
        // The active set is asked only of a server that is there.
        run.activeSet = run.remote->GetActiveSet();
        if (*run.activeSet) {
            run.serverName = run.remote->GetServerName().value_or("");
        } else if (IsLoss(run.activeSet->error())) {
            run.lost = true;
        }
    }
    if (run.lost) withdraw(false);
}

void ServerConnection::Publish(ConnectRun& run) {
    // Two instances of one server (local mode) share one fate: a hung server
    // is given up once for both.
    localFate_ = std::make_shared<status::SharedFate>();
    remoteFate_ = run.localMode ? localFate_ : std::make_shared<status::SharedFate>();
    local_ = std::make_shared<status::LinkedSuiteServer>(std::move(run.local), localFate_, calls_);
    remote_ =
        std::make_shared<status::LinkedSuiteServer>(std::move(run.remote), remoteFate_, calls_);
    AttachEvents();
    BindReferences();
    if (run.localNumber) localClientNumber_ = *run.localNumber;
    if (run.remoteNumber) remoteClientNumber_ = *run.remoteNumber;
}

// On the user-interface thread: the connect's steps with what the servers
// answered, boxes and all.
void ServerConnection::FinishConnect(ConnectRun& run) {
    if (run.attempt != attempt_ || !Busy()) {
        // Given up while it ran: what it registered is withdrawn unseen.
        if (run.local && run.remote) {
            worker_->Post([local = std::move(run.local), remote = std::move(run.remote)] {
                local->DisconnectClient();
                remote->DisconnectClient();
            });
        }
        return;
    }
    const bool quiet = state_ == ConnectionState::Reconnecting;
    // Where a connect that does not stand leaves the console.
    const auto failed = quiet ? ConnectionState::Lost : ConnectionState::Disconnected;
    auto endFailed = [&] {
        ReleaseReferences();
        if (quiet) nextRetry_ = services_.clock.Monotonic() + retryInterval_;
        EnterDisconnected(failed);
    };
    if (run.creationError) {
        ReportDComError(*run.creationError, quiet);
        endFailed();
        return;
    }
    if (!run.local && !run.withdrawn) {
        endFailed();
        return;
    }
    // The worker's withdrawals leave no references: the steps run on none.
    if (!run.withdrawn) Publish(run);
    emit registering();
    if (!run.Registered()) {
        ReportDComError((run.localNumber ? run.remoteNumber : run.localNumber).error(), quiet);
        endFailed();
        return;
    }
    if (run.localMode) {
        for (const auto& error : run.startErrors) ReportDComError(error, quiet);
        startedByConnection_ = run.started;
        emit sideLocked(true);
    } else if (*run.remoteNumber == 1) {
        if (!quiet) {
            services_.dialogs.MsgBox(
                std::string("A Orvel Host application is NOT running on the server !") + CR + CR +
                    "You CANNOT run a REMOTE session without a Orvel Host running on the "
                    "server...",
                vbCritical, "");
        }
        endFailed();
        return;
    } else {
        emit sideLocked(false);
        emit identityChanged();
        services_.dialogs.DoEvents();
        for (const auto& error : run.startErrors) ReportDComError(error, quiet);
    }
    if (run.activeSet && !*run.activeSet) ReportDComError(run.activeSet->error(), quiet);
    if (run.lost) {
        endFailed();
        return;
    }
    if (run.activeSet && **run.activeSet == suite::kNoActiveSet) ShowActiveSetBox();
    state_ = ConnectionState::Connected;
    notice_ = {};
    activeSet_ = run.activeSet && *run.activeSet ? **run.activeSet : std::string();
    activeSetServer_ = run.serverName;
    emit connected();
    emit identityChanged();
    emit rowsChanged();
}

// The one box a retry shows too: once per connection regained.
void ServerConnection::ShowActiveSetBox() {
    services_.dialogs.MsgBox(
        std::string("There currently is no Active Set on the Orvel File Server") + CR + CR +
            "Many Orvel Applications will not run properly" + CR + "without an Active Set !" + CR +
            CR + "Run the Corvane Compiler and/or" + CR + "Control Center to make your selection.",
        vbExclamation, "No Active CORVANE Set Selected");
}

void ServerConnection::EnterDisconnected(ConnectionState next) {
    state_ = next;
    BindReferences();
    emit disconnected();
    launcher::CheckApplicationFiles(services_.catalogue, services_.fileSystem);
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
    if (state_ != ConnectionState::Connected || !AnyReferenceLost()) return false;
    const auto& settings = services_.settings;
    const std::string name =
        settings.LocalServerSelected ? settings.LocalServerName : settings.RemoteServerName;
    // The lost references answer 462 at once and are released without a
    // call; a reference that still stands has its registration withdrawn.
    WithdrawRegistrations();
    const std::string loss = "Connection to " + name + " lost";
    notice_ = {loss, loss + "; connecting again by itself"};
    nextRetry_ = services_.clock.Monotonic() + retryInterval_;
    EnterDisconnected(ConnectionState::Lost);
    emit connectionLost(loss);
    return true;
}

void ServerConnection::RetryIfDue() {
    if (state_ != ConnectionState::Lost || services_.clock.Monotonic() < nextRetry_) return;
    BeginConnect(true);
}

void ServerConnection::StopRetrying() {
    if (state_ == ConnectionState::Lost || state_ == ConnectionState::Reconnecting) {
        // A retry under way is withdrawn when its answer comes.
        state_ = ConnectionState::Disconnected;
    }
    notice_ = {};
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

bool ServerConnection::Disconnect() {
    if (state_ != ConnectionState::Connected) return false;
    if (!ConsentToDisconnect()) return false;
    WithdrawRegistrations();
    notice_ = {};
    connectHoldUntil_ = services_.clock.Monotonic() + kConnectHold;
    EnterDisconnected(ConnectionState::Disconnected);
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

namespace {

// Each slot's reference as the table binds it now, for calls on the worker.
std::array<std::shared_ptr<suiteclient::SuiteServer>, suite::kComponentSlots> BoundReferences(
    const status::ComponentServerTable& table) {
    std::array<std::shared_ptr<suiteclient::SuiteServer>, suite::kComponentSlots> references;
    for (std::size_t slot = 0; slot < references.size(); ++slot) {
        references[slot] = table[slot].objServer;
    }
    return references;
}

}  // namespace

// The starts run on the worker, the hourglass shown until the last has ended.
void ServerConnection::ConnectAll() {
    if (!Connected()) return;
    for (auto& entry : services_.table) entry.blnKeepRunning = true;
    auto& dialogs = services_.dialogs;
    const int pointer = dialogs.MousePointer();
    dialogs.SetMousePointer(platform::vbHourglass);
    OffUi(
        [references = BoundReferences(services_.table)] {
            for (int slot : {3, 7, 11}) {
                if (const auto& server = references[static_cast<std::size_t>(slot)]) {
                    server->StartComponent(static_cast<std::int16_t>(slot));
                }
            }
            for (std::size_t slot = 0; slot < references.size(); ++slot) {
                if (references[slot])
                    references[slot]->StartComponent(static_cast<std::int16_t>(slot));
            }
        },
        [&dialogs, pointer] { dialogs.SetMousePointer(pointer); });
}

void ServerConnection::DisconnectAll() {
    if (!Connected()) return;
    if (launcher::FindRunningApplication(services_.catalogue, services_.windows) > 0) {
        services_.dialogs.MsgBox("Cannot Stop Servers while Applications are running",
                                 vbInformation, "Applications Are Running");
        return;
    }
    for (auto& entry : services_.table) entry.blnKeepRunning = false;
    worker_->Post([references = BoundReferences(services_.table)] {
        for (std::size_t slot = 0; slot < references.size(); ++slot) {
            if (references[slot]) references[slot]->StopComponent(static_cast<std::int16_t>(slot));
        }
    });
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
