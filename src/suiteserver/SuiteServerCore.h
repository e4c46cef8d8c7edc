#pragma once

// The suite server's own working, free of any transport: the instances the
// consoles hold, their client registrations and event queues, the twenty
// component slots with their child processes, and the computer's identity.
// It answers the calls and runs the timed work; the jobs themselves are done
// by its parts, each with its own lock:
//   ComponentSupervisor  the slots, their processes and their records
//   InstanceTable        instances, registrations, events
//   ProgramResolver      the registry's programs and active set
// Lock order: supervisor's slot lock, then the launcher's, then the instance
// table's; the resolver's and the housekeeper's wake lock are taken with no
// other held after them. No walk of the process table runs under the slot
// lock (the one calls wait on).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/Registry.h"
#include "platform/RuntimeError.h"
#include "platform/SystemInfo.h"
#include "suiteserver/ComponentRecords.h"
#include "suiteserver/ComponentSupervisor.h"
#include "suiteserver/CoreOptions.h"
#include "suiteserver/EventQueue.h"
#include "suiteserver/InstanceTable.h"
#include "suiteserver/ProcessLauncher.h"
#include "suiteserver/ProgramResolver.h"
#include "suiteserver/ServerLog.h"

namespace orvel::suiteserver {

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
    void HousekeeperLoop();
    void Wake();

    platform::Clock& clock_;
    platform::SystemInfo& systemInfo_;
    ServerLog& log_;
    CoreOptions options_;
    InstanceTable instances_;
    ProgramResolver programs_;
    ComponentSupervisor components_;

    std::mutex wakeMutex_;  // the housekeeper's sleep
    std::condition_variable wake_;
    bool housekeeperStop_ = false;
    bool woken_ = false;
    std::thread housekeeper_;
};

}  // namespace orvel::suiteserver
