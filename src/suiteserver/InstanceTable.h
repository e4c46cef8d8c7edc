#pragma once

// The instances the consoles hold: their client registrations, their event
// queues, the change and message events sent to all of them, and the standing
// operator message. One lock guards it all; nothing is called under it but
// the event queues' own.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "suiteserver/CoreOptions.h"
#include "suiteserver/EventQueue.h"
#include "suiteserver/ServerLog.h"

namespace orvel::suiteserver {

class InstanceTable {
  public:
    InstanceTable(platform::Clock& clock, ServerLog& log, const CoreOptions& options);

    Outcome<InstanceId, Refusal> Create(const std::string& peer, const std::string& clientProgram);
    // False when no such instance exists; its event stream ends.
    bool Remove(InstanceId id, const char* why);
    Outcome<std::shared_ptr<EventQueue>, Refusal> Attach(InstanceId id);
    void CloseAll();
    std::size_t Count();
    bool Known(InstanceId id);

    // The number of registered clients; kUnknownInstance for an unknown id.
    Outcome<std::int16_t, Refusal> ClientCount(InstanceId id);
    Outcome<std::int16_t, Refusal> Register(InstanceId id, const std::string& name);
    Outcome<std::int16_t, Refusal> Withdraw(InstanceId id);

    // The instance's client as the record names it (program, user or host);
    // empty for an unknown id.
    std::string Describe(InstanceId id);

    void Broadcast(const ServerEvent& event);
    // A change event for the slot to every instance.
    void SlotChanged(int index);
    // A message to every instance; (0, -1) stands and is repeated until
    // another message replaces it.
    void Message(const ServerEvent& message);

    // Releases the instances nobody collects events for and repeats the
    // standing message; returns when it is due again (or `next`).
    std::chrono::steady_clock::time_point Housekeep(std::chrono::steady_clock::time_point now,
                                                    std::chrono::steady_clock::time_point next);

  private:
    struct Instance {
        InstanceId id = 0;
        std::string peer;
        std::string clientProgram;
        bool registered = false;
        bool attached = false;
        std::chrono::steady_clock::time_point created{};
        std::shared_ptr<EventQueue> queue;
    };
    std::int16_t CountRegisteredLocked() const;
    // Into the suite's record, when one is kept.
    void Note(SuiteEventKind kind, std::string client, std::string detail);
    void BroadcastLocked(const ServerEvent& event);

    platform::Clock& clock_;
    ServerLog& log_;
    const CoreOptions& options_;

    std::mutex mutex_;
    std::map<InstanceId, Instance> instances_;
    std::uint64_t idState_ = 0;
    std::optional<ServerEvent> standingMessage_;
    std::chrono::steady_clock::time_point nextRepeat_{};
};

}  // namespace orvel::suiteserver
