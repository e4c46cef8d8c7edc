#pragma once

// The twenty component slots: starting, stopping and watching each slot's
// program, recording every start and stop before it acts (ComponentRecords),
// and, when the server starts, finishing or undoing what a server killed
// earlier was doing and ending the components no record accounts for.
//
// Locks: the slot lock (mutex_) is the one StartComponent and StopComponent
// wait on. Under it the supervisor may take, in this order, the launcher's
// lock (Launch, Adopt, Forget: no walk of the process table) and the
// instance table's lock (change events). Everything that walks every process
// (Signal, Remains, Refresh, FindMarked) runs with the slot lock released,
// and so does the registry read of a restart on failure. Events are recorded
// under the slot lock: the record promises not to block long.
//
// Restart on failure: a component that exits on its own with a failure (a
// code other than 0, a signal the server did not send, or an end whose status
// an adopted process cannot tell) is started again by the housekeeping once
// nothing of it remains, when its registration asks for it then, after a
// growing delay and within a burst limit (RestartPolicy). A stop, an
// operator's or the server's own, withdraws a restart not yet made.

#include <sys/types.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "suite/ComponentCatalog.h"
#include "suiteserver/ComponentRecords.h"
#include "suiteserver/CoreOptions.h"
#include "suiteserver/ProcessLauncher.h"
#include "suiteserver/ProgramResolver.h"
#include "suiteserver/RestartSchedule.h"
#include "suiteserver/ServerLog.h"
#include "suiteserver/SuiteEvents.h"

namespace orvel::suiteserver {

class ComponentSupervisor {
  public:
    struct Hooks {
        std::function<void(int index)> changed;  // the slot's running state changed
        std::function<void()> wake;              // timed work is due earlier
        // The slot's program and restart setting now (for a restart on failure).
        std::function<Program(int index)> program;
    };
    ComponentSupervisor(ProcessLauncher& launcher, ComponentRecords& records,
                        platform::Clock& clock, ServerLog& log, const CoreOptions& options,
                        Hooks hooks);

    // Takes over what an earlier run left: records it finishes or undoes, and
    // marked processes no record names (adopted into a free slot whose
    // program they run, else ended). programOf gives a slot's program now.
    void Recover(const std::function<std::string(int index)>& programOf);

    bool Running(int index);
    // Running and not being stopped.
    bool RunsUnstopped(int index);
    // Starts program in the slot (or once its stop has ended); the slot's
    // status. note names who asked. It ends a restart limit that was hit.
    std::int32_t Start(int index, const std::string& program, const std::string& note);
    // A start the caller could not make (no program to run): logged and
    // recorded; note names who asked.
    void Refuse(int index, const std::string& note, const std::string& why);
    // note names who asked; a restart on failure not yet made is withdrawn.
    std::int32_t Stop(int index, const std::string& note = {});
    // Kills after the grace, finishes ended components and makes the restarts
    // on failure that are due; when it is due again.
    std::chrono::steady_clock::time_point Housekeep(std::chrono::steady_clock::time_point now);
    // Ends every component (grace, then kill), refuses later starts and ends
    // the launcher's watching.
    void StopAll();

    // "slot K (Name)", as the log names a slot.
    static std::string SlotLabel(int index);

  private:
    struct Slot {
        pid_t pid = 0;        // the first process, while it runs
        pid_t component = 0;  // the launcher's name for it, until nothing of it remains
        std::uint64_t startTime = 0;
        std::string program;
        std::string marker;     // in its environment
        bool starting = false;  // recorded, not spawned yet
        bool stopping = false;  // being ended: asked to, or what its first process left
        bool killed = false;
        std::chrono::steady_clock::time_point killAt{};
        bool startPending = false;  // a start waits for the stop to end
        std::string pendingProgram;
        std::string pendingNote;
        std::chrono::steady_clock::time_point startedAt{};  // started or adopted by this run
        std::string stopNote;                               // who asked for the stop under way

        // Holds a running process, started now or adopted; the slot was empty.
        void Hold(ProcessIdentity process, std::chrono::steady_clock::time_point now) {
            pid = process.pid;
            component = process.pid;
            startTime = process.startTime;
            startedAt = now;
        }
    };
    // A slot's restart on failure; kept across the slot's runs.
    struct Restart {
        bool wanted = false;  // failed on its own: restart once nothing of it remains
        bool due = false;     // made at `at` if the registration still asks for it
        std::chrono::steady_clock::time_point at{};
        std::uint64_t generation = 0;  // changes with every schedule and withdrawal
        std::chrono::milliseconds lastRun{0};
        RestartSchedule schedule;  // its delays and burst limit
    };

    class MarkedProcesses;
    // Takes the process a record names (or its marker finds); false when the
    // record is dropped.
    bool TakeRecordedLocked(const ComponentRecord& record, const MarkedProcesses& marked);
    // Marked processes no slot accounts for: adopted into a free slot, or
    // returned to be ended.
    std::vector<ProcessIdentity> SettleUnrecordedLocked(const MarkedProcesses& marked,
                                                        const std::vector<std::string>& programs);
    void TakeLocked(int index, ProcessIdentity process, const std::string& program,
                    const std::string& marker);
    std::int32_t LaunchLocked(int index, const std::string& program, const std::string& note,
                              SuiteEventKind kind = SuiteEventKind::kComponentStarted,
                              const std::string& detail = {});
    // Marks the slot as ending and records it; the component to send SIGTERM
    // to once the lock is released.
    pid_t BeginEndingLocked(int index, const std::string& why, const std::string& note);
    void ScheduleRestartLocked(int index);
    void WithdrawRestartLocked(int index, bool forgetHistory);
    void RestartLocked(int index, std::uint64_t generation, const Program& program,
                       std::chrono::steady_clock::time_point now);
    // The restarts on failure due by now; when the next one is due.
    void MakeDueRestarts(std::chrono::steady_clock::time_point now,
                         std::chrono::steady_clock::time_point& next);
    SuiteEvent EventFor(SuiteEventKind kind, int index) const;
    void Record(const SuiteEvent& event) const;
    void FinishLocked(int index);
    void SaveRecordsLocked();
    void OnChildExit(int index, pid_t pid, int waitStatus);
    void Signal(const std::vector<pid_t>& components, int signalNumber);
    std::string NewMarker(int index);
    void Reached(std::string_view point) const;
    ExitHandler HandlerFor(int index);

    ProcessLauncher& launcher_;
    ComponentRecords& records_;
    platform::Clock& clock_;
    ServerLog& log_;
    const CoreOptions& options_;
    Hooks hooks_;
    const std::string installation_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::array<Slot, suite::kComponentSlots> slots_{};
    std::array<Restart, suite::kComponentSlots> restarts_{};
    bool shuttingDown_ = false;  // no start any more
    std::string lastRecordProblem_;
    std::mt19937_64 nonces_;
    std::mutex refreshMutex_;  // one look at the processes at a time
    std::chrono::steady_clock::time_point nextRefresh_{};
};

}  // namespace orvel::suiteserver
