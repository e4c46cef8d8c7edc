#pragma once

// The connection manager: the two suite server references (local and remote),
// the console's registration on each, the server events, and the component
// servers it starts and stops for the connection. It paints nothing: the main
// window follows its signals.
//
// The connection is one explicit state. The server calls of a connect, a
// retry and a withdrawal run on the server worker; their results are applied
// on the user-interface thread in the connect's own order of steps and boxes,
// so the window never waits on a server.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <QObject>

#include "launcher/ApplicationCatalogue.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/ProgramStarter.h"
#include "platform/UiDispatcher.h"
#include "platform/WindowSystem.h"
#include "settings/ConsoleSettings.h"
#include "status/ComponentServerTable.h"
#include "status/LinkedSuiteServer.h"
#include "status/ServerWorker.h"
#include "suiteclient/SuiteServer.h"

namespace orvel::mainwindow {

enum class ConnectionState {
    Disconnected,  // no connection, and none wanted
    Connecting,    // the operator's connect is under way
    Connected,     // both references stand; a loss is tried again
    Lost,          // lost; a quiet connect is tried every retry interval
    Reconnecting,  // such a quiet connect is under way
};

class ServerConnection : public QObject {
    Q_OBJECT
  public:
    // What the manager works with; all of it outlives the manager.
    struct Services {
        settings::ConsoleSettings& settings;
        platform::Dialogs& dialogs;
        platform::Clock& clock;
        platform::WindowSystem& windows;
        platform::FileSystem& fileSystem;
        suiteclient::SuiteServerFactory& servers;
        status::ComponentServerTable& table;
        launcher::ApplicationCatalogue& catalogue;
        // The product's name, as the DCom error boxes give it.
        std::string productName;
        // The launcher's starter: a program still opening its window needs
        // its servers too. None in tests that launch nothing.
        platform::ProgramStarter* starter;
        // Hands the worker's results to the user-interface thread. None: the
        // server calls run at once on the caller (logic tested with fakes).
        platform::UiDispatcher* dispatcher = nullptr;
        // This user's log-in name, for the advice to a user outside the
        // operators' group.
        std::string userName{};
    };

    // What the status bar says of a connection that is not there: a loss or
    // a refusal the console can tell apart. Empty text: nothing to say.
    struct Notice {
        std::string text;
        std::string toolTip;
    };

    explicit ServerConnection(Services services, QObject* parent = nullptr);
    // Waits for the worker's queued withdrawals and releases.
    ~ServerConnection() override;

    ConnectionState State() const { return state_; }
    // Both references stand and every component entry is bound to one.
    bool Connected() const { return state_ == ConnectionState::Connected; }
    // A connect (the operator's or a retry) is under way.
    bool Busy() const {
        return state_ == ConnectionState::Connecting || state_ == ConnectionState::Reconnecting;
    }

    // The operator's connect (host button or autostart) of the selected side:
    // creates both references, registers on both and starts the components
    // the connection brings up. Once it stood, a lost connection is tried
    // again until it stands again or the operator gives it up. A connect
    // already under way is not started twice; a retry under way becomes the
    // operator's own (its boxes are shown).
    void Connect();
    // Disconnects after the operator's consent; false when it stayed connected.
    bool Disconnect();
    // Withdraws both registrations and releases both references.
    void WithdrawRegistrations();
    // The exit's withdrawal: the local registration only.
    void WithdrawLocalRegistration();
    // Clients of the local server other than this console.
    std::int16_t OtherClientCount();
    // Stops the local component servers that no running program needs.
    void StopUnneededServers();
    // "Connect ALL" and "Disconnect ALL".
    void ConnectAll();
    void DisconnectAll();

    // Asks for the remote server's name and selects the remote side; an empty
    // answer selects the local side. False when the name was refused.
    bool ChooseRemoteServer();
    // The same prompt for a remote role: only a valid name selects the remote
    // side; Cancel, an empty answer or a refused name change nothing (false).
    bool ChooseRemoteServerForRole();
    // The exit's questions while connected; false when the console stays.
    bool ConsentToExit();
    // The unload's word when it closes over other clients or a running program.
    void WarnOfForcedClose();

    // True when the selected side (local or remote) has a server name.
    bool SelectedSideHasName() const;
    // After a disconnection the host button is held for a few seconds.
    bool ConnectHeld() const;
    void ReleaseConnectHold() { connectHoldUntil_ = {}; }

    // A lost reference (a call that ended in 462, a broken event stream) ends
    // the connection as a disconnection does, without a question and without
    // a call on the lost reference. True when it did.
    bool CheckForLoss();
    // Once per poll tick: after a loss, the quiet connect of the same mode to
    // the same server, every retry interval, until it stands.
    void RetryIfDue();
    // The operator gave the connection up (selection, role, exit).
    void StopRetrying();
    bool Retrying() const {
        return state_ == ConnectionState::Lost || state_ == ConnectionState::Reconnecting;
    }
    void SetRetryInterval(std::chrono::milliseconds interval) { retryInterval_ = interval; }
    const Notice& StatusNotice() const { return notice_; }
    // The active set and the server that gave it, as the last connect found them.
    const std::string& ActiveSet() const { return activeSet_; }
    const std::string& ActiveSetServer() const { return activeSetServer_; }

    const std::shared_ptr<suiteclient::SuiteServer>& Local() const { return local_; }
    const std::shared_ptr<suiteclient::SuiteServer>& Remote() const { return remote_; }
    std::shared_ptr<suiteclient::SuiteServer> ReferenceOfKind(std::int16_t hostKind) const;
    std::int16_t LocalClientNumber() const { return localClientNumber_; }
    std::int16_t RemoteClientNumber() const { return remoteClientNumber_; }

  signals:
    // A connect has begun.
    void connecting();
    // Both references are there; the registrations follow.
    void registering();
    // Connected on one side: the other side's button is locked.
    void sideLocked(bool localSide);
    // Disconnected: both side buttons are free again.
    void sidesReleased();
    // The connection ended (or never came): the menus return to their
    // disconnected state.
    void disconnected();
    // The connect stands; the active set it found is known (ActiveSet()).
    void connected();
    // The identity panel and the server rows want repainting.
    void identityChanged();
    void rowsChanged();
    // Server events, from either reference (hostKind 1 local, 2 remote).
    void serverChange(std::int16_t hostKind, std::int16_t idxIndex);
    void serverMessage(std::int16_t intMessage, std::int16_t intVar, const std::string& strVar);
    // The connection was lost (told once per loss).
    void connectionLost(const std::string& notice);

  private:
    struct ConnectRun;

    // Runs job on the worker, then apply on the user-interface thread (both
    // at once without a dispatcher). Apply is dropped once the manager is gone.
    void OffUi(std::function<void()> job, std::function<void()> apply);
    void BeginConnect(bool quiet);
    static void RunConnect(ConnectRun& run);
    void FinishConnect(ConnectRun& run);
    void Publish(ConnectRun& run);
    void AttachEvents();
    bool BindReferences();
    void ReleaseReferences();
    void ReportDComError(const platform::RuntimeError& error, bool quiet);
    void ShowActiveSetBox();
    // A call the window stopped waiting for has ended: repaint what its
    // failure painted.
    void CatchUp();
    // Leaves the connection: state, menus, application files, side buttons,
    // identity panel and rows, the same for every way a connection ends.
    void EnterDisconnected(ConnectionState next);
    bool ConsentToDisconnect();
    // The remote-name prompt, upper-cased; false (after a box) for a refused name.
    bool AskRemoteServerName(std::string& name);
    void SelectRemoteServer(const std::string& name);
    bool AnyReferenceLost() const;

    Services services_;
    // The connect's, the withdrawals' and the releases' calls, in order.
    std::shared_ptr<status::ServerWorker> worker_;
    // The window's own calls on the references, each waited for a short
    // budget; apart, so that they never wait behind a connect.
    std::shared_ptr<status::ServerWorker> calls_;
    ConnectionState state_ = ConnectionState::Disconnected;
    std::shared_ptr<suiteclient::SuiteServer> local_;
    std::shared_ptr<suiteclient::SuiteServer> remote_;
    std::shared_ptr<status::SharedFate> localFate_;
    std::shared_ptr<status::SharedFate> remoteFate_;
    std::int16_t localClientNumber_ = 0;
    std::int16_t remoteClientNumber_ = 0;
    std::chrono::steady_clock::time_point connectHoldUntil_{};
    std::chrono::milliseconds retryInterval_{std::chrono::seconds(5)};
    std::chrono::steady_clock::time_point nextRetry_{};
    // The attempt under way; a result of an older one is withdrawn unseen.
    std::uint64_t attempt_ = 0;
    Notice notice_;
    std::string activeSet_;
    std::string activeSetServer_;
    // Slots the local connect started for their start mode: kept running.
    std::array<bool, suite::kComponentSlots> startedByConnection_{};
};

}  // namespace orvel::mainwindow
