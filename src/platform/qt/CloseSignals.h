#pragma once

// The system's requests to close (SIGTERM at shutdown or `systemctl stop`,
// SIGHUP at log-out, SIGINT from a terminal), turned into a call on the
// user-interface thread. The handler only writes the signal's number to a
// pipe; a socket notifier reads it in the event loop, where the close runs.

#include <functional>

#include <QObject>

#include "platform/UniqueFd.h"

class QSocketNotifier;

namespace orvel::platform {

class CloseSignals final : public QObject {
  public:
    // One at a time: a signal handler can only reach the one pipe.
    explicit CloseSignals(std::function<void(int signal)> onClose, QObject* parent = nullptr);
    ~CloseSignals() override;
    CloseSignals(const CloseSignals&) = delete;
    CloseSignals& operator=(const CloseSignals&) = delete;

    // False when the pipe or the handlers could not be set up.
    bool Installed() const { return installed_; }

  private:
    void Drain();

    std::function<void(int)> onClose_;
    // The pipe from the handler to the event loop.
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
};

}  // namespace orvel::platform
