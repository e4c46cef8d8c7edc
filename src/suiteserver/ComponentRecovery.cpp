// ComponentSupervisor, when the server starts: finishing or undoing what a
// server killed earlier was doing, from its records and the marked processes
// it left, and ending the components no record accounts for.

#include <signal.h>

#include <algorithm>
#include <map>

#include "suiteserver/ComponentSupervisor.h"

namespace orvel::suiteserver {

namespace {

using TimePoint = std::chrono::steady_clock::time_point;

TimePoint FromMs(std::int64_t ms) {
    return TimePoint(
        std::chrono::duration_cast<TimePoint::duration>(std::chrono::milliseconds(ms)));
}

}  // namespace

// The processes carrying each marker of this installation.
class ComponentSupervisor::MarkedProcesses {
  public:
    explicit MarkedProcesses(std::vector<MarkedProcess> all) : all_(std::move(all)) {
        for (const auto& process : all_) byMarker_[process.marker].push_back(&process);
    }
    const std::map<std::string, std::vector<const MarkedProcess*>>& ByMarker() const {
        return byMarker_;
    }
    // A start's first process: the one whose parent does not carry its marker.
    const MarkedProcess* FirstOf(const std::string& marker) const {
        auto it = byMarker_.find(marker);
        if (it == byMarker_.end()) return nullptr;
        const auto& carriers = it->second;
        const MarkedProcess* first = nullptr;
        for (const MarkedProcess* process : carriers) {
            bool parentMarked = std::any_of(
                carriers.begin(), carriers.end(),
                [&](const MarkedProcess* other) { return other->process.pid == process->parent; });
            if (!parentMarked &&
                (first == nullptr || process->process.startTime < first->process.startTime)) {
                first = process;
            }
        }
        return first;
    }

  private:
    std::vector<MarkedProcess> all_;
    std::map<std::string, std::vector<const MarkedProcess*>> byMarker_;
};

void ComponentSupervisor::Recover(const std::function<std::string(int index)>& programOf) {
    auto records = records_.Load();
    // The look at every process comes first, without any lock.
    MarkedProcesses marked(installation_.empty()
                               ? std::vector<MarkedProcess>()
                               : launcher_.FindMarked(kMarkerVariable, installation_ + ":"));
    std::vector<std::string> programs(suite::kComponentSlots);
    for (int i = 0; i < suite::kComponentSlots; ++i) {
        if (suite::IsUsedSlot(i)) programs[static_cast<std::size_t>(i)] = programOf(i);
    }
    std::vector<pid_t> resumedStops;
    std::vector<ProcessIdentity> orphans;
    {
        std::lock_guard lock(mutex_);
        for (const auto& record : records) {
            if (TakeRecordedLocked(record, marked)) {
                if (record.stopDeadline)
                    resumedStops.push_back(slots_[static_cast<std::size_t>(record.slot)].component);
            }
        }
        orphans = SettleUnrecordedLocked(marked, programs);
        SaveRecordsLocked();
    }
    for (const auto& orphan : orphans) launcher_.EndOrphan(orphan);
    Signal(resumedStops, SIGTERM);
    if (!resumedStops.empty() && hooks_.wake) hooks_.wake();
}

void ComponentSupervisor::TakeLocked(int index, ProcessIdentity process, const std::string& program,
                                     const std::string& marker) {
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    slot.Hold(process, clock_.Monotonic());
    slot.program = program;
    slot.marker = marker;
    hooks_.changed(index);
}

bool ComponentSupervisor::TakeRecordedLocked(const ComponentRecord& record,
                                             const MarkedProcesses& marked) {
    std::string what =
        "process " + std::to_string(record.process.pid) + " (" + record.program + ")";
    if (!suite::IsUsedSlot(record.slot)) {
        log_.Line("component: record of " + what + " for slot " + std::to_string(record.slot) +
                  " dropped: no such slot");
        return false;
    }
    const int index = record.slot;
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (slot.component != 0) {
        log_.Line("component: second record of " + SlotLabel(index) + " (" + what + ") dropped");
        return false;
    }
    ProcessIdentity process = record.process;
    if (process.pid == 0) {
        const MarkedProcess* first = marked.FirstOf(record.marker);
        if (first == nullptr) {
            log_.Line("component: " + SlotLabel(index) + " start of " + record.program +
                      " had not begun when the server ended; undone");
            return false;
        }
        process = first->process;
        what = "process " + std::to_string(process.pid) + " (" + record.program + ")";
    }
    AdoptVerdict verdict = launcher_.Adopt(process, record.program, HandlerFor(index));
    if (verdict != AdoptVerdict::kAdopted) {
        log_.Line("component: " + SlotLabel(index) + " record of " + what +
                  " dropped: " + DescribeVerdict(verdict));
        return false;
    }
    SuiteEvent event = EventFor(SuiteEventKind::kComponentAdopted, index);
    event.pid = process.pid;
    if (record.stopDeadline) {
        slot.stopping = true;
        slot.killAt = FromMs(*record.stopDeadline);
        slot.stopNote = "a stop begun before the server restarted";
        event.detail = "it was being stopped; the stop goes on";
        log_.Line("component: " + SlotLabel(index) + " " + what +
                  " was being stopped when the server ended; the stop goes on");
    } else {
        log_.Line("component: " + SlotLabel(index) + " " + what +
                  " still runs from an earlier run of the server; adopted");
    }
    TakeLocked(index, process, record.program, record.marker);
    Record(event);
    return true;
}

std::vector<ProcessIdentity> ComponentSupervisor::SettleUnrecordedLocked(
    const MarkedProcesses& marked, const std::vector<std::string>& programs) {
    std::vector<ProcessIdentity> orphans;
    for (const auto& entry : marked.ByMarker()) {
        const std::string& marker = entry.first;
        bool accounted = std::any_of(slots_.begin(), slots_.end(),
                                     [&](const Slot& slot) { return slot.marker == marker; });
        if (accounted) continue;
        const MarkedProcess* first = marked.FirstOf(marker);
        auto parts = ParseMarker(marker, installation_);
        if (first != nullptr && parts && suite::IsUsedSlot(parts->slot) &&
            slots_[static_cast<std::size_t>(parts->slot)].component == 0) {
            const std::string& program = programs[static_cast<std::size_t>(parts->slot)];
            if (!program.empty() &&
                launcher_.Adopt(first->process, program, HandlerFor(parts->slot)) ==
                    AdoptVerdict::kAdopted) {
                log_.Line("component: " + SlotLabel(parts->slot) + " process " +
                          std::to_string(first->process.pid) + " (" + program +
                          ") runs without a record; adopted");
                TakeLocked(parts->slot, first->process, program, marker);
                SuiteEvent event = EventFor(SuiteEventKind::kComponentAdopted, parts->slot);
                event.pid = first->process.pid;
                event.detail = "found without a record";
                Record(event);
                continue;
            }
        }
        for (const MarkedProcess* process : entry.second) {
            log_.Line("component: process " + std::to_string(process->process.pid) +
                      " started by an earlier run of the server (" + marker +
                      ") belongs to no slot; ended");
            orphans.push_back(process->process);
        }
    }
    return orphans;
}

}  // namespace orvel::suiteserver
