#pragma once

// What the suite server did and saw, as one event each: the suite's record.
// The parts that act (the supervisor, the instance table, the transport)
// describe each event; a SuiteEvents keeps them (a bounded file, the
// journal) and gives them back to `--events` and to consoles.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

namespace orvel::suiteserver {

enum class SuiteEventKind {
    kServerStarted,
    kServerStopped,
    kComponentStarted,    // by client
    kComponentStopped,    // by client (an operator's stop, or the server's own at shutdown)
    kComponentExited,     // on its own: exitCode or signal, runTime
    kComponentAdopted,    // found running after a restart of the server
    kComponentRefused,    // a start that could not run: detail says why
    kComponentRestarted,  // restart on failure
    kRestartLimitHit,     // restart on failure gave up: detail says the burst
    kClientRegistered,
    kClientWithdrawn,
    kClientLost,  // its event stream broke or it stopped collecting
    kTlsRefused,  // detail: the reason, client: the peer
};

struct SuiteEvent {
    SuiteEventKind kind = SuiteEventKind::kServerStarted;
    int slot = -1;          // 0-based component slot, -1 for none
    std::string component;  // the slot's name
    pid_t pid = 0;
    std::string client;  // who asked: program, user and host, as one text
    std::optional<int> exitCode;
    std::optional<int> signal;
    std::chrono::milliseconds runTime{0};
    std::string detail;
};

// Where events go. Record must not block on slow readers or the journal for
// long: it is called with the supervisor's slot lock held.
class SuiteEvents {
  public:
    virtual ~SuiteEvents() = default;
    virtual void Record(const SuiteEvent& event) = 0;
};

// Keeps nothing: the default where no record is wanted (most tests).
class NoSuiteEvents final : public SuiteEvents {
  public:
    void Record(const SuiteEvent&) override {}
};

}  // namespace orvel::suiteserver
