#pragma once

// The suite server object as the console sees it: fifteen operations and two
// events. A failed call answers the run-time error that the old object raised.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/RuntimeError.h"

namespace orvel::suiteclient {

using platform::Outcome;

struct SuiteServerEvents {
    // EventOrvelServerChange(idxIndex)
    std::function<void(std::int16_t idxIndex)> serverChange;
    // EventOrvelMessage(intMessage, intVar, strVar)
    std::function<void(std::int16_t intMessage, std::int16_t intVar, const std::string& strVar)>
        message;
};

// One event of the server's record, as GetRecentEvents gives it.
struct RecordedServerEvent {
    std::uint64_t sequence = 0;
    std::int64_t timeMs = 0;  // UTC, since the epoch
    std::string event;        // "component-exited", "component-restarted", ...
    int slot = -1;
    std::string component;
    std::int32_t pid = 0;
    std::string client;
    std::optional<int> exitCode;
    std::optional<int> signal;
    std::int64_t runTimeMs = 0;
    std::string detail;
};

class SuiteServer {
  public:
    virtual ~SuiteServer() = default;

    virtual Outcome<std::int16_t> GetClientCount() = 0;
    virtual Outcome<std::string> GetActiveSet() = 0;
    virtual Outcome<std::int16_t> DisconnectClient() = 0;
    virtual Outcome<std::int16_t> ConnectClient(const std::string& name) = 0;
    virtual Outcome<std::string> GetComponentName(std::int16_t index) = 0;
    virtual Outcome<std::int32_t> GetComponentStatus(std::int16_t index) = 0;
    virtual Outcome<std::int32_t> StopComponent(std::int16_t index) = 0;
    virtual Outcome<std::int32_t> StartComponent(std::int16_t index) = 0;
    virtual Outcome<std::int16_t> GetPlatformId() = 0;
    virtual Outcome<platform::DateTime> GetServerTime() = 0;
    virtual Outcome<std::int16_t> GetOSBuild() = 0;
    virtual Outcome<std::int16_t> GetOSMinorVersion() = 0;
    virtual Outcome<std::int16_t> GetOSMajorVersion() = 0;
    virtual Outcome<std::string> GetServerName() = 0;
    virtual Outcome<std::string> GetServerVersion() = 0;
    // The server's record after sinceSequence, oldest first (at most max, the
    // server may give fewer). An error from a server without the call.
    virtual Outcome<std::vector<RecordedServerEvent>> GetRecentEvents(std::uint64_t sinceSequence,
                                                                      std::uint32_t max) {
        (void)sinceSequence;
        (void)max;
        return platform::MakeError(platform::kErrInvalidCall);
    }

    // Handlers run on the user-interface thread. Set them right after creation;
    // releasing the reference (destroying it) stops its events before it goes.
    virtual void SetEventHandlers(SuiteServerEvents handlers) = 0;
    // Runs (on the user-interface thread) when the instance is found lost
    // without a call: its event stream broke. Every later call fails with 462.
    virtual void SetLostHandler(std::function<void()> handler) = 0;

    // The caller knows the server is gone: the release that follows makes no
    // call on it (and so waits for no deadline).
    virtual void Abandon() {}
};

// Creates suite server instances: on this computer, or on the computer named
// "\\" + name. Failures: 429 refused or unreachable, 70 permission denied.
class SuiteServerFactory {
  public:
    virtual ~SuiteServerFactory() = default;
    virtual Outcome<std::shared_ptr<SuiteServer>> CreateLocal() = 0;
    virtual Outcome<std::shared_ptr<SuiteServer>> CreateRemote(const std::string& computerName) = 0;
};

}  // namespace orvel::suiteclient
