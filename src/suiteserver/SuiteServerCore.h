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
#include "platform/SystemInfo.h"
#include "suite/ComponentCatalog.h"
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
    // An instance whose events nobody collects is released after this time.
    std::chrono::milliseconds unattachedLimit{10000};
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

template <typename T>
struct Answer {
    Answer(T v) : value(std::move(v)) {}  // NOLINT: implicit by design
    Answer(Refusal r) : refusal(r) {}     // NOLINT
    bool ok() const { return refusal == Refusal::kNone; }
    T value{};
    Refusal refusal = Refusal::kNone;
};

struct ServerEvent {
    bool isMessage = false;
    std::int16_t idxIndex = 0;  // change event
    std::int16_t intMessage = 0;
    std::int16_t intVar = 0;
    std::string strVar;
};

// The events waiting for one instance's stream.
class EventQueue {
  public:
    explicit EventQueue(std::size_t capacity) : capacity_(capacity) {}
    // False when the queue was full and the event was dropped.
    bool Push(ServerEvent event);
    // Waits up to timeout for events; returns them. closed is set once the
    // instance has been released.
    std::deque<ServerEvent> Wait(std::chrono::milliseconds timeout, bool* closed);
    void Close();

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<ServerEvent> events_;
    std::size_t capacity_ = 0;
    bool closed_ = false;
};

class SuiteServerCore {
  public:
    SuiteServerCore(platform::Registry& registry, ProcessLauncher& launcher, platform::Clock& clock,
                    platform::SystemInfo& systemInfo, ServerLog& log, CoreOptions options);
    // Stops every component it started (grace, then kill) and closes every instance.
    ~SuiteServerCore();
    SuiteServerCore(const SuiteServerCore&) = delete;
    SuiteServerCore& operator=(const SuiteServerCore&) = delete;

    // Instances. peer names the connection (for the per-peer cap and the log).
    Answer<InstanceId> CreateInstance(const std::string& peer, const std::string& clientProgram);
    bool ReleaseInstance(InstanceId id);
    // The queue of the instance's one event stream.
    Answer<std::shared_ptr<EventQueue>> AttachEvents(InstanceId id);
    // The stream of the instance broke (its client died or vanished).
    void EventStreamBroken(InstanceId id);
    // Releases every instance (at shutdown): their streams end.
    void CloseAllInstances();

    // The fifteen operations.
    Answer<std::int16_t> GetClientCount(InstanceId id);
    Answer<std::string> GetActiveSet(InstanceId id);
    Answer<std::int16_t> DisconnectClient(InstanceId id);
    Answer<std::int16_t> ConnectClient(InstanceId id, const std::string& name);
    Answer<std::string> GetComponentName(InstanceId id, int index);
    Answer<std::int32_t> GetComponentStatus(InstanceId id, int index);
    Answer<std::int32_t> StopComponent(InstanceId id, int index);
    Answer<std::int32_t> StartComponent(InstanceId id, int index);
    Answer<std::int16_t> GetPlatformId(InstanceId id);
    Answer<platform::DateTime> GetServerTime(InstanceId id);
    Answer<std::int16_t> GetOSBuild(InstanceId id);
    Answer<std::int16_t> GetOSMinorVersion(InstanceId id);
    Answer<std::int16_t> GetOSMajorVersion(InstanceId id);
    Answer<std::string> GetServerName(InstanceId id);
    Answer<std::string> GetServerVersion(InstanceId id);

    // EventOrvelMessage to every instance.
    Refusal SendOperatorMessage(std::int16_t intMessage, std::int16_t intVar,
                                const std::string& strVar);

    std::size_t InstanceCount();
    bool Known(InstanceId id);

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
        pid_t pid = 0;
        bool stopping = false;
        std::chrono::steady_clock::time_point killAt{};
    };
    enum class ProgramState { kNotRegistered, kMissing, kReady };
    struct Program {
        ProgramState state = ProgramState::kNotRegistered;
        std::string path;
    };

    bool RemoveInstance(InstanceId id, const char* why);
    std::int16_t CountRegisteredLocked() const;
    Program RegisteredProgram(int index);
    void NoteStoreProblem();
    void Broadcast(const ServerEvent& event);
    void OnChildExit(int index, pid_t pid, int waitStatus);
    void Housekeep();
    void StopAllComponents();
    static std::string SlotLabel(int index);

    platform::Registry& registry_;
    ProcessLauncher& launcher_;
    platform::Clock& clock_;
    platform::SystemInfo& systemInfo_;
    ServerLog& log_;
    CoreOptions options_;

    std::mutex instancesMutex_;
    std::map<InstanceId, Instance> instances_;
    std::uint64_t idState_ = 0;

    std::mutex registryMutex_;
    std::string lastStoreProblem_;

    std::mutex slotsMutex_;
    std::condition_variable slotsChanged_;
    std::array<Slot, suite::kComponentSlots> slots_{};
    bool stopping_ = false;
    std::thread housekeeper_;
};

}  // namespace orvel::suiteserver
