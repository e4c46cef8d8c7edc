// ComponentSupervisor's restart on failure: scheduling a restart once a
// failed component has ended completely, withdrawing it, and making the
// restarts that are due within the burst limit.

#include <algorithm>
#include <utility>

#include "suiteserver/ComponentSupervisor.h"

namespace orvel::suiteserver {

namespace {

using std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

std::string Milliseconds(std::chrono::steady_clock::duration span) {
    return std::to_string(std::chrono::duration_cast<milliseconds>(span).count()) + " ms";
}

}  // namespace

void ComponentSupervisor::ScheduleRestartLocked(int index) {
    Restart& restart = restarts_[static_cast<std::size_t>(index)];
    const RestartPolicy& policy = options_.restart;
    restart.wanted = false;
    restart.due = true;
    restart.at = clock_.Monotonic() + restart.schedule.DelayAfter(restart.lastRun, policy);
    ++restart.generation;
    if (hooks_.wake) hooks_.wake();
}

void ComponentSupervisor::WithdrawRestartLocked(int index, bool forgetHistory) {
    Restart& restart = restarts_[static_cast<std::size_t>(index)];
    if (restart.due) {
        log_.Line("component: " + SlotLabel(index) + " restart on failure withdrawn");
    }
    restart.wanted = false;
    restart.due = false;
    ++restart.generation;
    if (forgetHistory) restart.schedule.Forget();
}

void ComponentSupervisor::MakeDueRestarts(TimePoint now, TimePoint& next) {
    std::vector<std::pair<int, std::uint64_t>> due;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < restarts_.size(); ++i) {
            const Restart& restart = restarts_[i];
            if (!restart.due) continue;
            if (restart.at <= now) {
                due.emplace_back(static_cast<int>(i), restart.generation);
            } else {
                next = std::min(next, restart.at);
            }
        }
    }
    if (due.empty() || !hooks_.program) return;
    // The registry is read without the slot lock; a stop or start meanwhile
    // changes the generation and the restart is not made.
    std::vector<Program> programs;
    programs.reserve(due.size());
    for (const auto& entry : due) programs.push_back(hooks_.program(entry.first));
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < due.size(); ++i) {
        RestartLocked(due[i].first, due[i].second, programs[i], now);
    }
}

void ComponentSupervisor::RestartLocked(int index, std::uint64_t generation, const Program& program,
                                        TimePoint now) {
    Restart& restart = restarts_[static_cast<std::size_t>(index)];
    if (!restart.due || restart.generation != generation) return;
    restart.due = false;
    const Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (slot.component != 0 || shuttingDown_ || !program.restartOnFailure) return;
    if (program.state != ProgramState::kReady) {
        const std::string why = program.path.empty() ? std::string("no program registered")
                                                     : program.path + " cannot be started";
        log_.Line("component: " + SlotLabel(index) + " not restarted: " + why);
        SuiteEvent event = EventFor(SuiteEventKind::kComponentRefused, index);
        event.client = "restart on failure";
        event.detail = why;
        Record(event);
        return;
    }
    const RestartPolicy& policy = options_.restart;
    if (!restart.schedule.Admit(now, policy)) {
        const std::string why = std::to_string(restart.schedule.Recent()) + " restarts within " +
                                Milliseconds(policy.interval) +
                                "; the slot stays down until it is started";
        log_.Line("component: " + SlotLabel(index) + " restart limit hit: " + why);
        SuiteEvent event = EventFor(SuiteEventKind::kRestartLimitHit, index);
        event.detail = why;
        Record(event);
        WithdrawRestartLocked(index, true);
        return;
    }
    const std::string detail = "restart " + std::to_string(restart.schedule.Recent()) + " of " +
                               std::to_string(policy.burst) + " within " +
                               Milliseconds(policy.interval);
    log_.Line("component: " + SlotLabel(index) + " restarted on failure (" + detail + ")");
    LaunchLocked(index, program.path, "restart on failure", SuiteEventKind::kComponentRestarted,
                 detail);
}

}  // namespace orvel::suiteserver
