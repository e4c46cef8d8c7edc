#include "suiteserver/ComponentSupervisor.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <set>

#include "suite/ComponentStatusCodes.h"

namespace orvel::suiteserver {

namespace {

using std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

std::string DescribeExit(int waitStatus) {
    if (waitStatus < 0) return "exit status unknown: not started by this run of the server";
    if (WIFEXITED(waitStatus)) return "exit code " + std::to_string(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus)) return "signal " + std::to_string(WTERMSIG(waitStatus));
    return "status " + std::to_string(waitStatus);
}

std::int64_t ToMs(TimePoint at) {
    return std::chrono::duration_cast<milliseconds>(at.time_since_epoch()).count();
}

// An end that restart on failure answers: not a clean exit with code 0.
bool Failed(int waitStatus) {
    return !(waitStatus >= 0 && WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0);
}

void DescribeEnd(SuiteEvent& event, int waitStatus) {
    if (waitStatus < 0) {
        event.detail = "exit status unknown: not started by this run of the server";
    } else if (WIFEXITED(waitStatus)) {
        event.exitCode = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        event.signal = WTERMSIG(waitStatus);
    }
}

}  // namespace

ComponentSupervisor::ComponentSupervisor(ProcessLauncher& launcher, ComponentRecords& records,
                                         platform::Clock& clock, ServerLog& log,
                                         const CoreOptions& options, Hooks hooks)
    : launcher_(launcher),
      records_(records),
      clock_(clock),
      log_(log),
      options_(options),
      hooks_(std::move(hooks)),
      installation_(records.InstallationId()) {
    std::random_device seed;
    nonces_.seed((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
}

std::string ComponentSupervisor::SlotLabel(int index) {
    const auto& definition = suite::ComponentDefinitions()[static_cast<std::size_t>(index)];
    return "slot " + std::to_string(index) + " (" + std::string(definition.displayName) + ")";
}

SuiteEvent ComponentSupervisor::EventFor(SuiteEventKind kind, int index) const {
    SuiteEvent event;
    event.kind = kind;
    event.slot = index;
    event.component =
        std::string(suite::ComponentDefinitions()[static_cast<std::size_t>(index)].displayName);
    return event;
}

void ComponentSupervisor::Record(const SuiteEvent& event) const {
    if (options_.events != nullptr) options_.events->Record(event);
}

void ComponentSupervisor::Reached(std::string_view point) const {
    if (options_.reached) options_.reached(point);
}

std::string ComponentSupervisor::NewMarker(int index) {
    char nonce[17];
    std::snprintf(nonce, sizeof nonce, "%016llx", static_cast<unsigned long long>(nonces_()));
    return installation_ + ":" + std::to_string(index) + ":" + nonce;
}

ExitHandler ComponentSupervisor::HandlerFor(int index) {
    return [this, index](pid_t pid, int status) {
        try {
            OnChildExit(index, pid, status);
        } catch (const std::exception& error) {
            log_.Line("component: " + SlotLabel(index) + " end of process " + std::to_string(pid) +
                      " not handled: " + error.what());
        }
    };
}

bool ComponentSupervisor::Running(int index) {
    std::lock_guard lock(mutex_);
    return slots_[static_cast<std::size_t>(index)].pid > 0;
}

bool ComponentSupervisor::RunsUnstopped(int index) {
    std::lock_guard lock(mutex_);
    const Slot& slot = slots_[static_cast<std::size_t>(index)];
    return slot.pid > 0 && !slot.stopping;
}

void ComponentSupervisor::Signal(const std::vector<pid_t>& components, int signalNumber) {
    for (pid_t component : components) launcher_.Signal(component, signalNumber);
}

std::int32_t ComponentSupervisor::Start(int index, const std::string& program,
                                        const std::string& note) {
    std::unique_lock lock(mutex_);
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (slot.pid > 0 && !slot.stopping) return suite::kStatusRunning;
    // A start by hand begins restart on failure afresh (also after its limit).
    WithdrawRestartLocked(index, true);
    if (slot.component == 0) return LaunchLocked(index, program, note);
    // The slot is still being stopped: the start runs once nothing of the old
    // program remains, and the answer says only what is true now.
    if (!slot.startPending) {
        log_.Line("component: " + SlotLabel(index) + " start waits until its stop has ended");
    }
    slot.startPending = true;
    slot.pendingProgram = program;
    slot.pendingNote = note;
    changed_.wait_for(lock, options_.startWait, [&] { return !slot.startPending; });
    if (slot.pid > 0 && !slot.stopping) return suite::kStatusRunning;
    if (slot.startPending) return suite::kStatusOffLine;
    return suite::kStatusNotAvailable;  // the pending start could not start the program
}

void ComponentSupervisor::Refuse(int index, const std::string& note, const std::string& why) {
    log_.Line("component: " + SlotLabel(index) + " not started: " + why);
    SuiteEvent event = EventFor(SuiteEventKind::kComponentRefused, index);
    event.client = note;
    event.detail = why;
    Record(event);
}

std::int32_t ComponentSupervisor::LaunchLocked(int index, const std::string& program,
                                               const std::string& note, SuiteEventKind kind,
                                               const std::string& detail) {
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    SuiteEvent event = EventFor(kind, index);
    event.client = note;
    event.detail = detail;
    if (shuttingDown_) {
        log_.Line("component: " + SlotLabel(index) + " not started: the server is stopping");
        event.kind = SuiteEventKind::kComponentRefused;
        event.detail = "the server is stopping";
        Record(event);
        return suite::kStatusOffLine;
    }
    // The start is on record before the program runs: a server killed from
    // here on finds the child by the marker in its environment.
    slot.marker = NewMarker(index);
    slot.program = program;
    slot.starting = true;
    SaveRecordsLocked();
    Reached("start-intent");
    std::vector<std::string> environment;
    if (!installation_.empty())
        environment.push_back(std::string(kMarkerVariable) + "=" + slot.marker);
    // The exit handler takes the slot lock, so launching under it is safe: an
    // exit can only be recorded once the process id has been stored.
    const OutputLabel output{index, event.component};
    LaunchResult launched = launcher_.Launch(program, environment, output, HandlerFor(index));
    slot.starting = false;
    if (launched.pid <= 0) {
        slot.marker.clear();
        slot.program.clear();
        SaveRecordsLocked();
        log_.Line("component: " + SlotLabel(index) + " could not start " + program + ": " +
                  launched.error);
        event.kind = SuiteEventKind::kComponentRefused;
        event.detail = program + ": " + launched.error;
        Record(event);
        return suite::kStatusNotAvailable;
    }
    Reached("start-spawned");
    slot.Hold({launched.pid, launched.startTime}, clock_.Monotonic());
    SaveRecordsLocked();
    Reached("start-recorded");
    log_.Line("component: " + SlotLabel(index) + " started " + program + " as process " +
              std::to_string(launched.pid) + (note.empty() ? "" : " (" + note + ")"));
    if (!launched.outputProblem.empty()) {
        log_.Line("component: " + SlotLabel(index) +
                  " output goes to the server's own: " + launched.outputProblem);
    }
    event.pid = launched.pid;
    Record(event);
    hooks_.changed(index);
    return suite::kStatusRunning;
}

std::int32_t ComponentSupervisor::Stop(int index, const std::string& note) {
    std::unique_lock lock(mutex_);
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    WithdrawRestartLocked(index, false);
    if (slot.startPending) {
        slot.startPending = false;  // the later wish wins
        log_.Line("component: " + SlotLabel(index) + " waiting start withdrawn by a stop");
        changed_.notify_all();
    }
    if (slot.pid <= 0) return suite::kStatusOffLine;
    pid_t pid = slot.pid;
    if (!slot.stopping) {
        pid_t component = BeginEndingLocked(index, "asked to end", note);
        lock.unlock();
        launcher_.Signal(component, SIGTERM);
        Reached("stop-signalled");
        lock.lock();
    }
    // Most programs end at once: wait a little so the answer already says so.
    changed_.wait_for(lock, options_.stopWait, [&] { return slot.pid != pid; });
    return slot.pid == pid ? suite::kStatusRunning : suite::kStatusOffLine;
}

pid_t ComponentSupervisor::BeginEndingLocked(int index, const std::string& why,
                                             const std::string& note) {
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    slot.stopping = true;
    slot.stopNote = note;
    slot.killed = false;
    slot.killAt = clock_.Monotonic() + options_.stopGrace;
    SaveRecordsLocked();  // the stop and its deadline are on record before its first signal
    Reached("stop-intent");
    log_.Line("component: " + SlotLabel(index) + " " + why + " (process " +
              std::to_string(slot.component) + " and its group)");
    changed_.notify_all();
    if (hooks_.wake) hooks_.wake();
    return slot.component;
}

void ComponentSupervisor::FinishLocked(int index) {
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    bool wasStopping = slot.stopping;
    if (wasStopping) Reached("stop-ended");
    launcher_.Forget(slot.component);
    bool startPending = slot.startPending;
    std::string pendingProgram = std::move(slot.pendingProgram);
    std::string pendingNote = std::move(slot.pendingNote);
    slot = Slot{};
    SaveRecordsLocked();
    if (wasStopping) log_.Line("component: " + SlotLabel(index) + " has ended completely");
    if (startPending && !shuttingDown_) {
        WithdrawRestartLocked(index, true);
        LaunchLocked(index, pendingProgram, pendingNote);
    } else if (restarts_[static_cast<std::size_t>(index)].wanted && !shuttingDown_) {
        ScheduleRestartLocked(index);
    }
    changed_.notify_all();
}

void ComponentSupervisor::OnChildExit(int index, pid_t pid, int waitStatus) {
    pid_t component = 0;
    {
        std::lock_guard lock(mutex_);
        Slot& slot = slots_[static_cast<std::size_t>(index)];
        if (slot.pid != pid) return;
        slot.pid = 0;
        component = slot.component;
        log_.Line("component: " + SlotLabel(index) + " process " + std::to_string(pid) +
                  " ended (" + DescribeExit(waitStatus) + ")");
        // Ended by a stop of the server's (asked for, or at its shutdown), or on its own.
        const bool onItsOwn = !slot.stopping;
        SuiteEvent event = EventFor(
            onItsOwn ? SuiteEventKind::kComponentExited : SuiteEventKind::kComponentStopped, index);
        event.pid = pid;
        event.client = onItsOwn ? std::string() : slot.stopNote;
        event.runTime =
            std::chrono::duration_cast<milliseconds>(clock_.Monotonic() - slot.startedAt);
        DescribeEnd(event, waitStatus);
        Record(event);
        if (onItsOwn && Failed(waitStatus)) {
            Restart& restart = restarts_[static_cast<std::size_t>(index)];
            restart.wanted = true;
            restart.lastRun = event.runTime;
        }
        hooks_.changed(index);
        changed_.notify_all();
    }
    // What it left behind is looked for without the slot lock.
    bool remains = launcher_.Remains(component);
    pid_t toSignal = 0;
    {
        std::lock_guard lock(mutex_);
        Slot& slot = slots_[static_cast<std::size_t>(index)];
        if (slot.component != component || slot.pid != 0) return;
        if (!remains) {
            FinishLocked(index);
        } else if (!slot.stopping) {
            // Its helpers would live on unwatched: they end as a stop ends them.
            toSignal = BeginEndingLocked(
                index, "ended but left processes behind; they are asked to end", "");
        }
        changed_.notify_all();
    }
    if (toSignal != 0) launcher_.Signal(toSignal, SIGTERM);
}

void ComponentSupervisor::SaveRecordsLocked() {
    std::vector<ComponentRecord> records;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const Slot& slot = slots_[i];
        if (slot.component == 0 && !slot.starting) continue;
        ComponentRecord record{static_cast<int>(i),
                               {slot.component, slot.startTime},
                               slot.program,
                               slot.marker,
                               std::nullopt};
        if (slot.stopping) record.stopDeadline = ToMs(slot.killAt);
        records.push_back(std::move(record));
    }
    std::string why;
    if (records_.Save(records, &why)) {
        if (!lastRecordProblem_.empty()) log_.Line("state file written again");
        lastRecordProblem_.clear();
    } else if (why != lastRecordProblem_) {
        log_.Line(
            "cannot write the state file (a restarted server would not find its "
            "components): " +
            why);
        lastRecordProblem_ = why;
    }
}

TimePoint ComponentSupervisor::Housekeep(TimePoint now) {
    auto next = now + std::chrono::seconds(1);
    // The look at every process takes a while on a busy machine: not under the slot lock.
    if (std::unique_lock refresh(refreshMutex_, std::try_to_lock);
        refresh.owns_lock() && now >= nextRefresh_) {
        launcher_.Refresh();
        nextRefresh_ = now + std::chrono::seconds(2);
    }
    MakeDueRestarts(now, next);
    std::vector<pid_t> toKill;
    std::vector<pid_t> toCheck;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            Slot& slot = slots_[i];
            if (slot.component == 0 || !slot.stopping) continue;
            if (slot.killAt <= now) {
                if (!slot.killed) {
                    log_.Line("component: " + SlotLabel(static_cast<int>(i)) + " process " +
                              std::to_string(slot.component) +
                              " or what it started did not end in time; killed");
                }
                toKill.push_back(slot.component);
                slot.killed = true;
                slot.killAt = now + std::chrono::seconds(1);  // once more if it lingers
            }
            // Its first process's end is reported by the watcher; what it left
            // behind is looked for here.
            if (slot.pid == 0) toCheck.push_back(slot.component);
            next = std::min({next, slot.killAt, now + milliseconds(100)});
        }
    }
    Signal(toKill, SIGKILL);
    if (!toKill.empty()) Reached("stop-killed");
    std::set<pid_t> ended;
    for (pid_t component : toCheck) {
        if (!launcher_.Remains(component)) ended.insert(component);
    }
    if (!ended.empty()) {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            const Slot& slot = slots_[i];
            if (slot.stopping && slot.pid == 0 && ended.count(slot.component) != 0) {
                FinishLocked(static_cast<int>(i));
            }
        }
    }
    return next;
}

void ComponentSupervisor::StopAll() {
    std::vector<pid_t> asked;
    {
        std::lock_guard lock(mutex_);
        shuttingDown_ = true;
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            Slot& slot = slots_[i];
            slot.startPending = false;
            WithdrawRestartLocked(static_cast<int>(i), false);
            if (slot.component != 0 && !slot.stopping) {
                asked.push_back(BeginEndingLocked(
                    static_cast<int>(i), "asked to end, server stopping,", "the server, stopping"));
            }
        }
    }
    Signal(asked, SIGTERM);
    auto allEnded = [&] {
        return std::all_of(slots_.begin(), slots_.end(),
                           [](const Slot& s) { return s.component == 0; });
    };
    // Real time here: the server's own end does not wait on a clock that may stand still.
    auto waitUntil = [&](TimePoint deadline) {
        std::unique_lock lock(mutex_);
        while (!allEnded() && std::chrono::steady_clock::now() < deadline) {
            lock.unlock();
            Housekeep(clock_.Monotonic());
            lock.lock();
            changed_.wait_for(lock, milliseconds(50), allEnded);
        }
    };
    waitUntil(std::chrono::steady_clock::now() + options_.stopGrace);
    std::vector<pid_t> left;
    {
        std::lock_guard lock(mutex_);
        for (const auto& slot : slots_) {
            if (slot.component != 0) left.push_back(slot.component);
        }
    }
    Signal(left, SIGKILL);
    waitUntil(std::chrono::steady_clock::now() + std::chrono::seconds(2));
    launcher_.EndStrays();
    // No exit handler may run into the supervisor once it is gone.
    launcher_.StopWatching();
}

}  // namespace orvel::suiteserver
