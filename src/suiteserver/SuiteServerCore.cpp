#include "suiteserver/SuiteServerCore.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "platform/Clamp.h"
#include "platform/VersionInfo.h"
#include "suite/ComponentStatusCodes.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::suiteserver {

namespace {

using platform::ClampToInt16;

bool ValidIndex(int index) {
    return index >= 0 && index < suite::kComponentSlots;
}

std::string Trimmed(std::string text) {
    auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    auto last = text.find_last_not_of(" \t");
    text = text.substr(first, last - first + 1);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

std::string DescribeExit(int waitStatus) {
    if (waitStatus < 0) return "exit status unknown: not started by this run of the server";
    if (WIFEXITED(waitStatus)) return "exit code " + std::to_string(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus)) return "signal " + std::to_string(WTERMSIG(waitStatus));
    return "status " + std::to_string(waitStatus);
}

std::uint64_t SplitMix(std::uint64_t* state) {
    std::uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

SuiteServerCore::SuiteServerCore(platform::Registry& registry, ProcessLauncher& launcher,
                                 ComponentRecords& records, platform::Clock& clock,
                                 platform::SystemInfo& systemInfo, ServerLog& log,
                                 CoreOptions options)
    : registry_(registry),
      launcher_(launcher),
      clock_(clock),
      systemInfo_(systemInfo),
      records_(records),
      log_(log),
      options_(options) {
    std::random_device seed;
    idState_ = (static_cast<std::uint64_t>(seed()) << 32) ^ seed();
    NoteStoreProblem();
    AdoptRecorded();
    if (options_.housekeeperThread) housekeeper_ = std::thread([this] { HousekeeperLoop(); });
}

SuiteServerCore::~SuiteServerCore() {
    CloseAllInstances();
    StopAllComponents();
    // No exit handler may run into this object once it is gone.
    launcher_.StopWatching();
    {
        std::lock_guard lock(slotsMutex_);
        housekeeperStop_ = true;
    }
    slotsChanged_.notify_all();
    if (housekeeper_.joinable()) housekeeper_.join();
}

std::string SuiteServerCore::SlotLabel(int index) {
    const auto& definition = suite::ComponentDefinitions()[static_cast<std::size_t>(index)];
    return "slot " + std::to_string(index) + " (" + std::string(definition.displayName) + ")";
}

// --- instances and registrations -------------------------------------------

Outcome<InstanceId, Refusal> SuiteServerCore::CreateInstance(const std::string& peer,
                                                             const std::string& clientProgram) {
    if (clientProgram.size() > options_.maxTextBytes) return Refusal::kBadArgument;
    std::lock_guard lock(instancesMutex_);
    if (instances_.size() >= options_.maxInstances) {
        log_.Line("refused instance for " + peer + ": " + std::to_string(instances_.size()) +
                  " instances exist");
        return Refusal::kTooManyInstances;
    }
    auto fromPeer = std::count_if(instances_.begin(), instances_.end(),
                                  [&](const auto& entry) { return entry.second.peer == peer; });
    if (static_cast<std::size_t>(fromPeer) >= options_.maxInstancesPerPeer) {
        log_.Line("refused instance for " + peer + ": " + std::to_string(fromPeer) +
                  " instances from this peer");
        return Refusal::kTooManyInstances;
    }
    InstanceId id = 0;
    do {
        id = SplitMix(&idState_);
    } while (id == 0 || instances_.count(id) != 0);
    Instance instance;
    instance.id = id;
    instance.peer = peer;
    instance.clientProgram = clientProgram;
    instance.created = clock_.Monotonic();
    instance.queue = std::make_shared<EventQueue>(options_.maxQueuedEvents);
    instances_.emplace(id, std::move(instance));
    log_.Line("connection: instance " + std::to_string(id % 100000) + " created for " + peer +
              (clientProgram.empty() ? "" : " (" + clientProgram + ")") + "; " +
              std::to_string(instances_.size()) + " instances");
    return id;
}

bool SuiteServerCore::RemoveInstance(InstanceId id, const char* why) {
    std::shared_ptr<EventQueue> queue;
    {
        std::lock_guard lock(instancesMutex_);
        auto it = instances_.find(id);
        if (it == instances_.end()) return false;
        queue = it->second.queue;
        bool wasRegistered = it->second.registered;
        std::string peer = it->second.peer;
        instances_.erase(it);
        log_.Line(std::string("connection: instance ") + std::to_string(id % 100000) + " of " +
                  peer + " released (" + why + ")" +
                  (wasRegistered ? "; registration withdrawn, " +
                                       std::to_string(CountRegisteredLocked()) + " clients"
                                 : std::string()));
    }
    queue->Close();
    return true;
}

bool SuiteServerCore::ReleaseInstance(InstanceId id) {
    return RemoveInstance(id, "by its client");
}

void SuiteServerCore::EventStreamBroken(InstanceId id) {
    RemoveInstance(id, "event stream broken");
}

void SuiteServerCore::CloseAllInstances() {
    std::map<InstanceId, Instance> all;
    {
        std::lock_guard lock(instancesMutex_);
        all.swap(instances_);
    }
    for (auto& [id, instance] : all) instance.queue->Close();
}

Outcome<std::shared_ptr<EventQueue>, Refusal> SuiteServerCore::AttachEvents(InstanceId id) {
    std::lock_guard lock(instancesMutex_);
    auto it = instances_.find(id);
    if (it == instances_.end()) return Refusal::kUnknownInstance;
    if (it->second.attached) return Refusal::kAlreadyAttached;
    it->second.attached = true;
    return it->second.queue;
}

std::size_t SuiteServerCore::InstanceCount() {
    std::lock_guard lock(instancesMutex_);
    return instances_.size();
}

bool SuiteServerCore::Known(InstanceId id) {
    std::lock_guard lock(instancesMutex_);
    return instances_.count(id) != 0;
}

std::int16_t SuiteServerCore::CountRegisteredLocked() const {
    return ClampToInt16(std::count_if(instances_.begin(), instances_.end(),
                                      [](const auto& entry) { return entry.second.registered; }));
}

Outcome<std::int16_t, Refusal> SuiteServerCore::GetClientCount(InstanceId id) {
    std::lock_guard lock(instancesMutex_);
    if (instances_.count(id) == 0) return Refusal::kUnknownInstance;
    return CountRegisteredLocked();
}

Outcome<std::int16_t, Refusal> SuiteServerCore::ConnectClient(InstanceId id,
                                                              const std::string& name) {
    if (name.size() > options_.maxTextBytes) return Refusal::kBadArgument;
    std::lock_guard lock(instancesMutex_);
    auto it = instances_.find(id);
    if (it == instances_.end()) return Refusal::kUnknownInstance;
    it->second.registered = true;
    std::int16_t count = CountRegisteredLocked();
    log_.Line("registration: instance " + std::to_string(id % 100000) + " of " + it->second.peer +
              " registered as \"" + name + "\"; " + std::to_string(count) + " clients");
    return count;
}

Outcome<std::int16_t, Refusal> SuiteServerCore::DisconnectClient(InstanceId id) {
    std::lock_guard lock(instancesMutex_);
    auto it = instances_.find(id);
    if (it == instances_.end()) return Refusal::kUnknownInstance;
    bool was = it->second.registered;
    it->second.registered = false;
    std::int16_t count = CountRegisteredLocked();
    if (was) {
        log_.Line("registration: instance " + std::to_string(id % 100000) + " of " +
                  it->second.peer + " withdrawn; " + std::to_string(count) + " clients");
    }
    return count;
}

// --- events -----------------------------------------------------------------

void SuiteServerCore::Broadcast(const ServerEvent& event) {
    std::lock_guard lock(instancesMutex_);
    for (auto& [id, instance] : instances_) {
        if (!instance.queue->Push(event)) {
            log_.Line("events: queue of instance " + std::to_string(id % 100000) +
                      " is full; event dropped");
        }
    }
}

Refusal SuiteServerCore::SendOperatorMessage(std::int16_t intMessage, std::int16_t intVar,
                                             const std::string& strVar) {
    if (strVar.size() > options_.maxTextBytes) return Refusal::kBadArgument;
    ServerEvent event;
    event.isMessage = true;
    event.intMessage = intMessage;
    event.intVar = intVar;
    event.strVar = strVar;
    log_.Line("message: " + std::to_string(intMessage) + ", " + std::to_string(intVar) + ", \"" +
              strVar + "\" to " + std::to_string(InstanceCount()) + " instances");
    {
        // A message shown (0, -1) stands until another message replaces or
        // withdraws it: it is sent again to every instance while it stands.
        std::lock_guard lock(instancesMutex_);
        if (intMessage == 0 && intVar == -1) {
            standingMessage_ = event;
            nextRepeat_ = clock_.Monotonic() + options_.messageRepeat;
        } else {
            standingMessage_.reset();
        }
    }
    Broadcast(event);
    slotsChanged_.notify_all();  // the housekeeper takes up the repeat
    return Refusal::kNone;
}

// --- component slots ----------------------------------------------------------

void SuiteServerCore::NoteStoreProblem() {
    std::string problem = registry_.StoreProblem();
    if (problem != lastStoreProblem_) {
        log_.Line(problem.empty() ? "registry store readable again"
                                  : "registry store problem: " + problem);
        lastStoreProblem_ = problem;
    }
}

std::string SuiteServerCore::SuiteFolder() {
    std::optional<std::string> folder;
    {
        std::lock_guard lock(registryMutex_);
        folder = suite::ReadStringValue(registry_, platform::HKEY_LOCAL_MACHINE,
                                        suite::kSuiteFolderKey, suite::kSuiteFolderValue);
    }
    std::string text = folder ? Trimmed(*folder) : std::string();
    return text.empty() ? std::string(suite::kDefaultSuiteFolder) : text;
}

SuiteServerCore::Program SuiteServerCore::RegisteredProgram(int index) {
    const auto& definition = suite::ComponentDefinitions()[static_cast<std::size_t>(index)];
    std::optional<std::string> value;
    {
        std::lock_guard lock(registryMutex_);
        value = suite::ReadStringValue(
            registry_, platform::HKEY_CLASSES_ROOT,
            "CLSID\\" + std::string(definition.classId) + "\\LocalServer32", "");
        if (!value) NoteStoreProblem();
    }
    Program program;
    if (!value) return program;
    program.path = Trimmed(*value);
    if (program.path.empty()) return program;
    namespace fs = std::filesystem;
    fs::path given(program.path);
    if (given.is_relative()) {
        // Never against this server's own working folder: against the suite
        // folder, and only inside it.
        fs::path folder = fs::path(SuiteFolder()).lexically_normal();
        fs::path resolved = (folder / given).lexically_normal();
        fs::path inside = resolved.lexically_relative(folder);
        if (!folder.is_absolute() || inside.empty() || *inside.begin() == "..") {
            program.state = ProgramState::kRefused;
            program.note = "relative program path \"" + program.path +
                           "\" refused: it leaves the suite folder " + folder.string();
            return program;
        }
        program.note = "relative program path \"" + program.path +
                       "\" resolved against the suite folder " + folder.string();
        program.path = resolved.string();
    }
    struct stat info {};
    bool runnable = stat(program.path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                    access(program.path.c_str(), X_OK) == 0;
    program.state = runnable ? ProgramState::kReady : ProgramState::kMissing;
    return program;
}

Outcome<std::string, Refusal> SuiteServerCore::GetComponentName(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    return std::string(suite::ComponentDefinitions()[static_cast<std::size_t>(index)].displayName);
}

Outcome<std::int32_t, Refusal> SuiteServerCore::GetComponentStatus(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    if (!suite::IsUsedSlot(index)) return suite::kStatusUnsupported;
    {
        std::lock_guard lock(slotsMutex_);
        if (slots_[static_cast<std::size_t>(index)].pid > 0) return suite::kStatusRunning;
    }
    switch (RegisteredProgram(index).state) {
        case ProgramState::kNotRegistered:
            return suite::kStatusNotRegistered;
        case ProgramState::kMissing:
        case ProgramState::kRefused:
            return suite::kStatusNotAvailable;
        case ProgramState::kReady:
            break;
    }
    return suite::kStatusOffLine;
}

Outcome<std::int32_t, Refusal> SuiteServerCore::StartComponent(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    if (!suite::IsUsedSlot(index)) return suite::kStatusUnsupported;
    Program program = RegisteredProgram(index);
    std::unique_lock lock(slotsMutex_);
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (slot.pid > 0 && !slot.stopping) return suite::kStatusRunning;
    switch (program.state) {
        case ProgramState::kNotRegistered:
            log_.Line("component: " + SlotLabel(index) + " not started: class not registered");
            return suite::kStatusNotRegistered;
        case ProgramState::kMissing:
            log_.Line("component: " + SlotLabel(index) + " not started: " + program.path +
                      " is missing or not executable" +
                      (program.note.empty() ? "" : " (" + program.note + ")"));
            return suite::kStatusNotAvailable;
        case ProgramState::kRefused:
            log_.Line("component: " + SlotLabel(index) + " not started: " + program.note);
            return suite::kStatusNotAvailable;
        case ProgramState::kReady:
            break;
    }
    if (slot.component == 0) return LaunchLocked(index, program.path, program.note);
    // The slot is still being stopped: the start runs once nothing of the old
    // program remains, and the answer says only what is true now.
    if (!slot.startPending) {
        log_.Line("component: " + SlotLabel(index) + " start waits until its stop has ended");
    }
    slot.startPending = true;
    slot.pendingProgram = program.path;
    slotsChanged_.wait_for(lock, options_.startWait, [&] { return !slot.startPending; });
    if (slot.pid > 0 && !slot.stopping) return suite::kStatusRunning;
    if (slot.startPending) return suite::kStatusOffLine;
    return suite::kStatusNotAvailable;  // the pending start could not start the program
}

std::int32_t SuiteServerCore::LaunchLocked(int index, const std::string& program,
                                           const std::string& note) {
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (shuttingDown_) {
        log_.Line("component: " + SlotLabel(index) + " not started: the server is stopping");
        return suite::kStatusOffLine;
    }
    // The exit handler takes the slot lock, so launching under it is safe: an
    // exit can only be recorded once the process id has been stored.
    LaunchResult launched = launcher_.Launch(
        program, [this, index](pid_t pid, int status) { OnChildExit(index, pid, status); });
    if (launched.pid <= 0) {
        log_.Line("component: " + SlotLabel(index) + " could not start " + program + ": " +
                  launched.error);
        return suite::kStatusNotAvailable;
    }
    slot.pid = launched.pid;
    slot.component = launched.pid;
    slot.startTime = launched.startTime;
    slot.program = program;
    slot.stopping = false;
    slot.killed = false;
    SaveRecordsLocked();
    log_.Line("component: " + SlotLabel(index) + " started " + program + " as process " +
              std::to_string(launched.pid) + (note.empty() ? "" : " (" + note + ")"));
    ServerEvent change;
    change.idxIndex = static_cast<std::int16_t>(index);
    Broadcast(change);
    return suite::kStatusRunning;
}

Outcome<std::int32_t, Refusal> SuiteServerCore::StopComponent(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    std::unique_lock lock(slotsMutex_);
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (slot.startPending) {
        slot.startPending = false;  // the later wish wins
        log_.Line("component: " + SlotLabel(index) + " waiting start withdrawn by a stop");
        slotsChanged_.notify_all();
    }
    if (slot.pid <= 0) return suite::kStatusOffLine;
    pid_t pid = slot.pid;
    if (!slot.stopping) BeginEndingLocked(index, "asked to end");
    // Most programs end at once: wait a little so the answer already says so.
    slotsChanged_.wait_for(lock, options_.stopWait, [&] { return slot.pid != pid; });
    return slot.pid == pid ? suite::kStatusRunning : suite::kStatusOffLine;
}

void SuiteServerCore::BeginEndingLocked(int index, const std::string& why) {
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    slot.stopping = true;
    slot.killed = false;
    slot.killAt = clock_.Monotonic() + options_.stopGrace;
    log_.Line("component: " + SlotLabel(index) + " " + why + " (process " +
              std::to_string(slot.component) + " and its group)");
    launcher_.Signal(slot.component, SIGTERM);
    slotsChanged_.notify_all();
}

void SuiteServerCore::FinishLocked(int index) {
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    launcher_.Forget(slot.component);
    bool wasStopping = slot.stopping;
    bool startPending = slot.startPending;
    std::string pendingProgram = std::move(slot.pendingProgram);
    slot = Slot{};
    slot.startPending = startPending;
    slot.pendingProgram = std::move(pendingProgram);
    SaveRecordsLocked();
    if (wasStopping) log_.Line("component: " + SlotLabel(index) + " has ended completely");
    if (slot.startPending) {
        slot.startPending = false;
        if (!shuttingDown_)
            LaunchLocked(index, slot.pendingProgram, "start that waited for the stop");
    }
    slotsChanged_.notify_all();
}

void SuiteServerCore::OnChildExit(int index, pid_t pid, int waitStatus) {
    std::lock_guard lock(slotsMutex_);
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (slot.pid != pid) return;
    slot.pid = 0;
    log_.Line("component: " + SlotLabel(index) + " process " + std::to_string(pid) + " ended (" +
              DescribeExit(waitStatus) + ")");
    ServerEvent change;
    change.idxIndex = static_cast<std::int16_t>(index);
    Broadcast(change);
    if (!launcher_.Remains(slot.component)) {
        FinishLocked(index);
    } else if (!slot.stopping) {
        // Its helpers would live on unwatched: they end as a stop ends them.
        BeginEndingLocked(index, "ended but left processes behind; they are asked to end");
    }
    slotsChanged_.notify_all();
}

void SuiteServerCore::SaveRecordsLocked() {
    std::vector<ComponentRecord> records;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const Slot& slot = slots_[i];
        if (slot.component == 0) continue;
        records.push_back({static_cast<int>(i), {slot.component, slot.startTime}, slot.program});
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

void SuiteServerCore::AdoptRecorded() {
    std::lock_guard lock(slotsMutex_);
    auto records = records_.Load();
    for (const auto& record : records) {
        std::string what =
            "process " + std::to_string(record.process.pid) + " (" + record.program + ")";
        if (!ValidIndex(record.slot) || !suite::IsUsedSlot(record.slot)) {
            log_.Line("component: record of " + what + " for slot " + std::to_string(record.slot) +
                      " dropped: no such slot");
            continue;
        }
        Slot& slot = slots_[static_cast<std::size_t>(record.slot)];
        if (slot.component != 0) {
            log_.Line("component: second record of " + SlotLabel(record.slot) + " (" + what +
                      ") dropped");
            continue;
        }
        int index = record.slot;
        AdoptVerdict verdict = launcher_.Adopt(
            record.process, record.program,
            [this, index](pid_t pid, int status) { OnChildExit(index, pid, status); });
        if (verdict != AdoptVerdict::kAdopted) {
            log_.Line("component: " + SlotLabel(index) + " record of " + what +
                      " dropped: " + DescribeVerdict(verdict));
            continue;
        }
        slot.pid = record.process.pid;
        slot.component = record.process.pid;
        slot.startTime = record.process.startTime;
        slot.program = record.program;
        log_.Line("component: " + SlotLabel(index) + " " + what +
                  " still runs from an earlier run of the server; adopted");
        ServerEvent change;
        change.idxIndex = static_cast<std::int16_t>(index);
        Broadcast(change);
    }
    SaveRecordsLocked();
}

void SuiteServerCore::RepeatStandingMessage(std::chrono::steady_clock::time_point now) {
    std::lock_guard lock(instancesMutex_);
    if (!standingMessage_ || now < nextRepeat_) return;
    for (auto& [id, instance] : instances_) {
        if (instance.attached) instance.queue->Repeat(*standingMessage_);
    }
    nextRepeat_ = now + options_.messageRepeat;
}

std::chrono::steady_clock::time_point SuiteServerCore::Housekeep() {
    auto now = clock_.Monotonic();
    auto next = now + std::chrono::seconds(1);
    // The look at every process takes a while on a busy machine: not under the slot lock.
    if (std::unique_lock refresh(refreshMutex_, std::try_to_lock);
        refresh.owns_lock() && now >= nextRefresh_) {
        launcher_.Refresh();
        nextRefresh_ = now + std::chrono::seconds(2);
    }
    {
        std::lock_guard lock(slotsMutex_);
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            Slot& slot = slots_[i];
            int index = static_cast<int>(i);
            if (slot.component == 0 || !slot.stopping) continue;
            if (slot.killAt <= now) {
                if (!slot.killed) {
                    log_.Line("component: " + SlotLabel(index) + " process " +
                              std::to_string(slot.component) + " or what it started did not end " +
                              "in time; killed");
                }
                launcher_.Signal(slot.component, SIGKILL);
                slot.killed = true;
                slot.killAt = now + std::chrono::seconds(1);  // once more if it lingers
            }
            // Its first process's end is reported by the watcher; what it left
            // behind is looked for here.
            if (slot.pid == 0 && !launcher_.Remains(slot.component)) {
                FinishLocked(index);
                continue;
            }
            next = std::min({next, slot.killAt, now + std::chrono::milliseconds(100)});
        }
    }
    // Instances whose events nobody collects hold resources for a client that
    // never came back for them.
    std::vector<InstanceId> stale;
    {
        std::lock_guard lock(instancesMutex_);
        for (auto& [id, instance] : instances_) {
            if (!instance.attached && now - instance.created > options_.unattachedLimit) {
                stale.push_back(id);
            }
        }
    }
    for (InstanceId id : stale) RemoveInstance(id, "no event stream");
    RepeatStandingMessage(now);
    {
        std::lock_guard lock(instancesMutex_);
        if (standingMessage_) next = std::min(next, nextRepeat_);
    }
    return next;
}

void SuiteServerCore::HousekeeperLoop() {
    for (;;) {
        auto next = Housekeep();
        std::unique_lock lock(slotsMutex_);
        if (housekeeperStop_) return;
        auto wait = next - clock_.Monotonic();
        slotsChanged_.wait_for(
            lock,
            std::max(wait, std::chrono::steady_clock::duration(std::chrono::milliseconds(5))));
        if (housekeeperStop_) return;
    }
}

void SuiteServerCore::StopAllComponents() {
    std::unique_lock lock(slotsMutex_);
    shuttingDown_ = true;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& slot = slots_[i];
        slot.startPending = false;
        if (slot.component != 0 && !slot.stopping) {
            BeginEndingLocked(static_cast<int>(i), "asked to end, server stopping,");
        }
    }
    auto allEnded = [&] {
        return std::all_of(slots_.begin(), slots_.end(),
                           [](const Slot& s) { return s.component == 0; });
    };
    // Real time here: the server's own end does not wait on a clock that may stand still.
    auto waitUntil = [&](std::chrono::steady_clock::time_point deadline) {
        while (!allEnded() && std::chrono::steady_clock::now() < deadline) {
            lock.unlock();
            Housekeep();
            lock.lock();
            slotsChanged_.wait_for(lock, std::chrono::milliseconds(50), allEnded);
        }
    };
    waitUntil(std::chrono::steady_clock::now() + options_.stopGrace);
    for (auto& slot : slots_) {
        if (slot.component != 0) launcher_.Signal(slot.component, SIGKILL);
    }
    waitUntil(std::chrono::steady_clock::now() + std::chrono::seconds(2));
    lock.unlock();
    launcher_.EndStrays();
}

// --- identity -----------------------------------------------------------------

Outcome<std::string, Refusal> SuiteServerCore::GetActiveSet(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    std::optional<std::string> set;
    {
        std::lock_guard lock(registryMutex_);
        set = suite::ReadStringValue(registry_, platform::HKEY_LOCAL_MACHINE, suite::kActiveSetKey,
                                     suite::kActiveSetValue);
        if (!set) NoteStoreProblem();
    }
    if (!set || Trimmed(*set).empty()) return std::string(suite::kNoActiveSet);
    return *set;
}

Outcome<std::int16_t, Refusal> SuiteServerCore::GetPlatformId(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return ClampToInt16(systemInfo_.Version().platformId);
}

Outcome<platform::DateTime, Refusal> SuiteServerCore::GetServerTime(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return clock_.Now();
}

Outcome<std::int16_t, Refusal> SuiteServerCore::GetOSBuild(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return ClampToInt16(systemInfo_.Version().build);
}

Outcome<std::int16_t, Refusal> SuiteServerCore::GetOSMinorVersion(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return ClampToInt16(systemInfo_.Version().minor);
}

Outcome<std::int16_t, Refusal> SuiteServerCore::GetOSMajorVersion(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return ClampToInt16(systemInfo_.Version().major);
}

Outcome<std::string, Refusal> SuiteServerCore::GetServerName(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return systemInfo_.HostName();
}

Outcome<std::string, Refusal> SuiteServerCore::GetServerVersion(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return platform::ProgramVersionInfo().releaseMarker;
}

}  // namespace orvel::suiteserver
