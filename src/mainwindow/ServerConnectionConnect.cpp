#include "mainwindow/ServerConnection.h"

// The connect, the operator's or a retry's: its server calls on the worker,
// then its steps and boxes on the user-interface thread, in the same order.

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "status/LinkedSuiteServer.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::mainwindow {

using platform::CR;
using platform::vbCritical;
using platform::vbExclamation;

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

}  // namespace orvel::mainwindow
