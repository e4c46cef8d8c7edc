#pragma once

// The suite server's own working, free of any transport: the instances the
// consoles hold, their client registrations and event queues, the twenty
// component slots with their child processes, and the computer's identity.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/Registry.h"
#include "platform/RuntimeError.h"
#include "platform/SystemInfo.h"
#include "suite/ComponentCatalog.h"
#include "suiteserver/ComponentRecords.h"
#include "suiteserver/EventQueue.h"
#include "suiteserver/ProcessLauncher.h"
#include "suiteserver/ServerLog.h"

namespace orvel::suiteserver {

using InstanceId = std::uint64_t;

struct CoreOptions {
    std::size_t maxInstances = 256;
    std::size_t maxInstancesPerPeer = 32;
    std::size_t maxQueuedEvents = 1024;
    std::size_t maxTextBytes = 4096;
    std::chrono::milliseconds stopGrace{5000};
    // How long StopComponent waits for the program to end before answering.
    std::chrono::milliseconds stopWait{300};
    // How long a StartComponent that arrives during a stop waits for the stop
    // to end before it answers; the start itself runs whenever the stop ends.
    std::chrono::milliseconds startWait{1000};
    // An instance whose events nobody collects is released after this time.
    std::chrono::milliseconds unattachedLimit{10000};
    // A standing operator message is sent again to every instance this often.
    std::chrono::milliseconds messageRepeat{250};
    // Off in tests that drive Housekeep() themselves.
    bool housekeeperThread = true;
};

// Why the core refused a request.
enum class Refusal {
    kNone,
    kUnknownInstance,
    kBadIndex,
    kTooManyInstances,
    kBadArgument,
    kAlreadyAttached,
};

using platform::Outcome;

class SuiteServerCore {
  public:
    // Takes over the recorded components that still run (and drops the other
    // records) before it answers anything.
    SuiteServerCore(platform::Registry& registry, ProcessLauncher& launcher,
                    ComponentRecords& records, platform::Clock& clock,
                    platform::SystemInfo& systemInfo, ServerLog& log, CoreOptions options);
    // Stops every component (grace, then kill), stops the launcher's exit
    // watching and closes every instance.
    ~SuiteServerCore();
    SuiteServerCore(const SuiteServerCore&) = delete;
    SuiteServerCore& operator=(const SuiteServerCore&) = delete;

    // Instances. peer names the connection (for the per-peer cap and the log).
    Outcome<InstanceId, Refusal> CreateInstance(const std::string& peer,
                                                const std::string& clientProgram);
    bool ReleaseInstance(InstanceId id);
    // The queue of the instance's one event stream.
    Outcome<std::shared_ptr<EventQueue>, Refusal> AttachEvents(InstanceId id);
    // The stream of the instance broke (its client died or vanished).
    void EventStreamBroken(InstanceId id);
    // Releases every instance (at shutdown): their streams end.
    void CloseAllInstances();

    // The fifteen operations.
    Outcome<std::int16_t, Refusal> GetClientCount(InstanceId id);
    Outcome<std::string, Refusal> GetActiveSet(InstanceId id);
    Outcome<std::int16_t, Refusal> DisconnectClient(InstanceId id);
    Outcome<std::int16_t, Refusal> ConnectClient(InstanceId id, const std::string& name);
    Outcome<std::string, Refusal> GetComponentName(InstanceId id, int index);
    Outcome<std::int32_t, Refusal> GetComponentStatus(InstanceId id, int index);
    Outcome<std::int32_t, Refusal> StopComponent(InstanceId id, int index);
    Outcome<std::int32_t, Refusal> StartComponent(InstanceId id, int index);
    Outcome<std::int16_t, Refusal> GetPlatformId(InstanceId id);
    Outcome<platform::DateTime, Refusal> GetServerTime(InstanceId id);
    Outcome<std::int16_t, Refusal> GetOSBuild(InstanceId id);
    Outcome<std::int16_t, Refusal> GetOSMinorVersion(InstanceId id);
    Outcome<std::int16_t, Refusal> GetOSMajorVersion(InstanceId id);
    Outcome<std::string, Refusal> GetServerName(InstanceId id);
    Outcome<std::string, Refusal> GetServerVersion(InstanceId id);

    // EventOrvelMessage to every instance.
    Refusal SendOperatorMessage(std::int16_t intMessage, std::int16_t intVar,
                                const std::string& strVar);

    std::size_t InstanceCount();
    bool Known(InstanceId id);

    // One round of the timed work: kills after the grace, ends of leftovers,
    // unattached instances, the standing message. Returns when it is due again.
    std::chrono::steady_clock::time_point Housekeep();

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
    struct Slot {
        pid_t pid = 0;        // the first process, while it runs
        pid_t component = 0;  // the launcher's name for it, until nothing of it remains
        std::uint64_t startTime = 0;
        std::string program;
        bool stopping = false;  // being ended: asked to, or what its first process left
        bool killed = false;
        std::chrono::steady_clock::time_point killAt{};
        bool startPending = false;  // a start waits for the stop to end
        std::string pendingProgram;
    };
    enum class ProgramState { kNotRegistered, kMissing, kRefused, kReady };
    struct Program {
        ProgramState state = ProgramState::kNotRegistered;
        std::string path;
        std::string note;  // how a relative path was resolved, or why it was refused
    };

    bool RemoveInstance(InstanceId id, const char* why);
    std::int16_t CountRegisteredLocked() const;
    Program RegisteredProgram(int index);
    void NoteStoreProblem();
    void Broadcast(const ServerEvent& event);
    std::string SuiteFolder();
    void OnChildExit(int index, pid_t pid, int waitStatus);
    std::int32_t LaunchLocked(int index, const std::string& program, const std::string& note);
    void BeginEndingLocked(int index, const std::string& why);
    void FinishLocked(int index);
    void SaveRecordsLocked();
    void AdoptRecorded();
    void RepeatStandingMessage(std::chrono::steady_clock::time_point now);
    void HousekeeperLoop();
    void StopAllComponents();
    static std::string SlotLabel(int index);

    platform::Registry& registry_;
    ProcessLauncher& launcher_;
    platform::Clock& clock_;
    platform::SystemInfo& systemInfo_;
    ComponentRecords& records_;
    ServerLog& log_;
    CoreOptions options_;

    std::mutex instancesMutex_;
    std::map<InstanceId, Instance> instances_;
    std::uint64_t idState_ = 0;
    std::optional<ServerEvent> standingMessage_;
    std::chrono::steady_clock::time_point nextRepeat_{};

    std::mutex registryMutex_;
    std::string lastStoreProblem_;

    std::mutex slotsMutex_;
    std::condition_variable slotsChanged_;
    std::array<Slot, suite::kComponentSlots> slots_{};
    bool shuttingDown_ = false;  // no start any more
    bool housekeeperStop_ = false;
    std::string lastRecordProblem_;
    std::mutex refreshMutex_;  // one look at the processes at a time
    std::chrono::steady_clock::time_point nextRefresh_{};
    std::thread housekeeper_;
};

}  // namespace orvel::suiteserver
