#include "suiteserver/SuiteServerCore.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "platform/VersionInfo.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::suiteserver {

namespace {

std::int16_t ToInt16(long value) {
    return static_cast<std::int16_t>(std::clamp<long>(value, INT16_MIN, INT16_MAX));
}

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

bool EventQueue::Push(ServerEvent event) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return true;
        if (events_.size() >= capacity_) return false;
        events_.push_back(std::move(event));
    }
    ready_.notify_one();
    return true;
}

std::deque<ServerEvent> EventQueue::Wait(std::chrono::milliseconds timeout, bool* closed) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, timeout, [&] { return closed_ || !events_.empty(); });
    *closed = closed_;
    std::deque<ServerEvent> taken;
    taken.swap(events_);
    return taken;
}

void EventQueue::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

SuiteServerCore::SuiteServerCore(platform::Registry& registry, ProcessLauncher& launcher,
                                 platform::Clock& clock, platform::SystemInfo& systemInfo,
                                 ServerLog& log, CoreOptions options)
    : registry_(registry),
      launcher_(launcher),
      clock_(clock),
      systemInfo_(systemInfo),
      log_(log),
      options_(options) {
    std::random_device seed;
    idState_ = (static_cast<std::uint64_t>(seed()) << 32) ^ seed();
    NoteStoreProblem();
    housekeeper_ = std::thread([this] { Housekeep(); });
}

SuiteServerCore::~SuiteServerCore() {
    CloseAllInstances();
    StopAllComponents();
    {
        std::lock_guard lock(slotsMutex_);
        stopping_ = true;
    }
    slotsChanged_.notify_all();
    housekeeper_.join();
}

std::string SuiteServerCore::SlotLabel(int index) {
    const auto& definition = suite::ComponentDefinitions()[static_cast<std::size_t>(index)];
    return "slot " + std::to_string(index) + " (" + std::string(definition.displayName) + ")";
}

// --- instances and registrations -------------------------------------------

Answer<InstanceId> SuiteServerCore::CreateInstance(const std::string& peer,
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
    instance.created = std::chrono::steady_clock::now();
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

Answer<std::shared_ptr<EventQueue>> SuiteServerCore::AttachEvents(InstanceId id) {
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
    return ToInt16(std::count_if(instances_.begin(), instances_.end(),
                                 [](const auto& entry) { return entry.second.registered; }));
}

Answer<std::int16_t> SuiteServerCore::GetClientCount(InstanceId id) {
    std::lock_guard lock(instancesMutex_);
    if (instances_.count(id) == 0) return Refusal::kUnknownInstance;
    return CountRegisteredLocked();
}

Answer<std::int16_t> SuiteServerCore::ConnectClient(InstanceId id, const std::string& name) {
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

Answer<std::int16_t> SuiteServerCore::DisconnectClient(InstanceId id) {
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
    Broadcast(event);
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
    struct stat info {};
    bool runnable = stat(program.path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                    access(program.path.c_str(), X_OK) == 0;
    program.state = runnable ? ProgramState::kReady : ProgramState::kMissing;
    return program;
}

Answer<std::string> SuiteServerCore::GetComponentName(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    return std::string(suite::ComponentDefinitions()[static_cast<std::size_t>(index)].displayName);
}

Answer<std::int32_t> SuiteServerCore::GetComponentStatus(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    if (!suite::IsUsedSlot(index)) return -1;
    {
        std::lock_guard lock(slotsMutex_);
        if (slots_[static_cast<std::size_t>(index)].pid > 0) return 1;
    }
    switch (RegisteredProgram(index).state) {
        case ProgramState::kNotRegistered:
            return 256;
        case ProgramState::kMissing:
            return 513;
        case ProgramState::kReady:
            break;
    }
    return 0;
}

Answer<std::int32_t> SuiteServerCore::StartComponent(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    if (!suite::IsUsedSlot(index)) return -1;
    Program program = RegisteredProgram(index);
    std::unique_lock lock(slotsMutex_);
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (slot.pid > 0) return 1;
    if (program.state == ProgramState::kNotRegistered) {
        log_.Line("component: " + SlotLabel(index) + " not started: class not registered");
        return 256;
    }
    if (program.state == ProgramState::kMissing) {
        log_.Line("component: " + SlotLabel(index) + " not started: " + program.path +
                  " is missing or not executable");
        return 513;
    }
    // The exit handler takes the slot lock, so launching under it is safe: an
    // exit can only be recorded once the process id has been stored.
    LaunchResult launched = launcher_.Launch(
        program.path, [this, index](pid_t pid, int status) { OnChildExit(index, pid, status); });
    if (launched.pid <= 0) {
        log_.Line("component: " + SlotLabel(index) + " could not start " + program.path + ": " +
                  launched.error);
        return 513;
    }
    slot.pid = launched.pid;
    slot.stopping = false;
    lock.unlock();
    log_.Line("component: " + SlotLabel(index) + " started " + program.path + " as process " +
              std::to_string(launched.pid));
    ServerEvent change;
    change.idxIndex = static_cast<std::int16_t>(index);
    Broadcast(change);
    return 1;
}

Answer<std::int32_t> SuiteServerCore::StopComponent(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    std::unique_lock lock(slotsMutex_);
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (slot.pid <= 0) return 0;
    pid_t pid = slot.pid;
    if (!slot.stopping) {
        slot.stopping = true;
        slot.killAt = std::chrono::steady_clock::now() + options_.stopGrace;
        log_.Line("component: " + SlotLabel(index) + " asked to end (process " +
                  std::to_string(pid) + ")");
        launcher_.Signal(pid, SIGTERM);
        slotsChanged_.notify_all();
    }
    // Most programs end at once: wait a little so the answer already says so.
    slotsChanged_.wait_for(lock, options_.stopWait, [&] { return slot.pid != pid; });
    return slot.pid == pid ? 1 : 0;
}

void SuiteServerCore::OnChildExit(int index, pid_t pid, int waitStatus) {
    {
        std::lock_guard lock(slotsMutex_);
        Slot& slot = slots_[static_cast<std::size_t>(index)];
        if (slot.pid != pid) return;
        slot.pid = 0;
        slot.stopping = false;
    }
    slotsChanged_.notify_all();
    log_.Line("component: " + SlotLabel(index) + " process " + std::to_string(pid) + " ended (" +
              DescribeExit(waitStatus) + ")");
    ServerEvent change;
    change.idxIndex = static_cast<std::int16_t>(index);
    Broadcast(change);
}

void SuiteServerCore::Housekeep() {
    std::unique_lock lock(slotsMutex_);
    while (!stopping_) {
        auto now = std::chrono::steady_clock::now();
        auto next = now + std::chrono::seconds(1);
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            Slot& slot = slots_[i];
            if (slot.pid <= 0 || !slot.stopping) continue;
            if (slot.killAt <= now) {
                log_.Line("component: " + SlotLabel(static_cast<int>(i)) + " process " +
                          std::to_string(slot.pid) + " did not end in time; killed");
                launcher_.Signal(slot.pid, SIGKILL);
                slot.killAt = now + std::chrono::seconds(1);  // once more if it lingers
            }
            next = std::min(next, slot.killAt);
        }
        lock.unlock();
        // Instances whose events nobody collects hold resources for a client
        // that never came back for them.
        std::vector<InstanceId> stale;
        {
            std::lock_guard instancesLock(instancesMutex_);
            for (auto& [id, instance] : instances_) {
                if (!instance.attached && now - instance.created > options_.unattachedLimit) {
                    stale.push_back(id);
                }
            }
        }
        for (InstanceId id : stale) RemoveInstance(id, "no event stream");
        lock.lock();
        slotsChanged_.wait_until(lock, next);
    }
}

void SuiteServerCore::StopAllComponents() {
    std::unique_lock lock(slotsMutex_);
    auto deadline = std::chrono::steady_clock::now() + options_.stopGrace;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].pid > 0) {
            log_.Line("component: " + SlotLabel(static_cast<int>(i)) + " asked to end (process " +
                      std::to_string(slots_[i].pid) + ", server stopping)");
            launcher_.Signal(slots_[i].pid, SIGTERM);
        }
    }
    auto allEnded = [&] {
        return std::all_of(slots_.begin(), slots_.end(), [](const Slot& s) { return s.pid <= 0; });
    };
    if (slotsChanged_.wait_until(lock, deadline, allEnded)) return;
    for (auto& slot : slots_) {
        if (slot.pid > 0) launcher_.Signal(slot.pid, SIGKILL);
    }
    slotsChanged_.wait_for(lock, std::chrono::seconds(2), allEnded);
}

// --- identity -----------------------------------------------------------------

Answer<std::string> SuiteServerCore::GetActiveSet(InstanceId id) {
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

Answer<std::int16_t> SuiteServerCore::GetPlatformId(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return ToInt16(systemInfo_.Version().platformId);
}

Answer<platform::DateTime> SuiteServerCore::GetServerTime(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return clock_.Now();
}

Answer<std::int16_t> SuiteServerCore::GetOSBuild(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return ToInt16(systemInfo_.Version().build);
}

Answer<std::int16_t> SuiteServerCore::GetOSMinorVersion(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return ToInt16(systemInfo_.Version().minor);
}

Answer<std::int16_t> SuiteServerCore::GetOSMajorVersion(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return ToInt16(systemInfo_.Version().major);
}

Answer<std::string> SuiteServerCore::GetServerName(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return systemInfo_.HostName();
}

Answer<std::string> SuiteServerCore::GetServerVersion(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    return platform::ProgramVersionInfo().releaseMarker;
}

}  // namespace orvel::suiteserver
