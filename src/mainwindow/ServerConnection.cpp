#include "mainwindow/ServerConnection.h"

// The connection's state and its references: the worker hand-off, the event
// handlers, the withdrawals, a loss and its retry, and the one way every
// connection ends (EnterDisconnected). The connect itself is in
// ServerConnectionConnect.cpp, the operator's questions and boxes in
// ServerConnectionPrompts.cpp, the component servers in
// ServerConnectionComponents.cpp.

#include <QPointer>
#include <QTimer>
#include <utility>

#include "launcher/ApplicationLaunch.h"
#include "status/LinkedSuiteServer.h"
#include "status/ServerReferences.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::mainwindow {

namespace {

constexpr auto kConnectHold = std::chrono::seconds(5);

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

bool ServerConnection::Disconnect() {
    if (state_ != ConnectionState::Connected) return false;
    if (!ConsentToDisconnect()) return false;
    WithdrawRegistrations();
    notice_ = {};
    connectHoldUntil_ = services_.clock.Monotonic() + kConnectHold;
    EnterDisconnected(ConnectionState::Disconnected);
    return true;
}

}  // namespace orvel::mainwindow
