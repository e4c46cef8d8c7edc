#include "suiteserver/InstanceTable.h"

#include <algorithm>
#include <random>
#include <string_view>
#include <vector>

#include "platform/Clamp.h"

namespace orvel::suiteserver {

namespace {

std::uint64_t SplitMix(std::uint64_t* state) {
    std::uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string ShortId(InstanceId id) {
    return std::to_string(id % 100000);
}

// The client as the record names it: its program, then the user or host of
// the connection ("uid 1000" on the local socket, the address over TCP).
std::string ClientText(const std::string& clientProgram, const std::string& peer) {
    if (clientProgram.empty()) return peer;
    return clientProgram + " (" + peer + ")";
}

}  // namespace

InstanceTable::InstanceTable(platform::Clock& clock, ServerLog& log, const CoreOptions& options)
    : clock_(clock), log_(log), options_(options) {
    std::random_device seed;
    idState_ = (static_cast<std::uint64_t>(seed()) << 32) ^ seed();
}

Outcome<InstanceId, Refusal> InstanceTable::Create(const std::string& peer,
                                                   const std::string& clientProgram) {
    if (clientProgram.size() > options_.maxTextBytes) return Refusal::kBadArgument;
    std::lock_guard lock(mutex_);
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
    log_.Line("connection: instance " + ShortId(id) + " created for " + peer +
              (clientProgram.empty() ? "" : " (" + clientProgram + ")") + "; " +
              std::to_string(instances_.size()) + " instances");
    return id;
}

bool InstanceTable::Remove(InstanceId id, const char* why) {
    std::shared_ptr<EventQueue> queue;
    std::string client;
    bool registered = false;
    {
        std::lock_guard lock(mutex_);
        auto it = instances_.find(id);
        if (it == instances_.end()) return false;
        queue = it->second.queue;
        bool wasRegistered = it->second.registered;
        std::string peer = it->second.peer;
        client = ClientText(it->second.clientProgram, peer);
        registered = wasRegistered;
        instances_.erase(it);
        log_.Line(std::string("connection: instance ") + ShortId(id) + " of " + peer +
                  " released (" + why + ")" +
                  (wasRegistered ? "; registration withdrawn, " +
                                       std::to_string(CountRegisteredLocked()) + " clients"
                                 : std::string()));
    }
    queue->Close();
    if (registered) {
        // Released by its own client: a withdrawal; any other end loses it.
        const bool byClient = std::string_view(why) == "by its client";
        Note(byClient ? SuiteEventKind::kClientWithdrawn : SuiteEventKind::kClientLost,
             std::move(client), byClient ? "instance released" : why);
    }
    return true;
}

std::string InstanceTable::Describe(InstanceId id) {
    std::lock_guard lock(mutex_);
    auto it = instances_.find(id);
    if (it == instances_.end()) return {};
    return ClientText(it->second.clientProgram, it->second.peer);
}

void InstanceTable::Note(SuiteEventKind kind, std::string client, std::string detail) {
    if (options_.events == nullptr) return;
    SuiteEvent event;
    event.kind = kind;
    event.client = std::move(client);
    event.detail = std::move(detail);
    options_.events->Record(event);
}

void InstanceTable::CloseAll() {
    std::map<InstanceId, Instance> all;
    {
        std::lock_guard lock(mutex_);
        all.swap(instances_);
    }
    for (auto& [id, instance] : all) instance.queue->Close();
}

Outcome<std::shared_ptr<EventQueue>, Refusal> InstanceTable::Attach(InstanceId id) {
    std::lock_guard lock(mutex_);
    auto it = instances_.find(id);
    if (it == instances_.end()) return Refusal::kUnknownInstance;
    if (it->second.attached) return Refusal::kAlreadyAttached;
    it->second.attached = true;
    return it->second.queue;
}

std::size_t InstanceTable::Count() {
    std::lock_guard lock(mutex_);
    return instances_.size();
}

bool InstanceTable::Known(InstanceId id) {
    std::lock_guard lock(mutex_);
    return instances_.count(id) != 0;
}

std::int16_t InstanceTable::CountRegisteredLocked() const {
    return platform::ClampToInt16(
        std::count_if(instances_.begin(), instances_.end(),
                      [](const auto& entry) { return entry.second.registered; }));
}

Outcome<std::int16_t, Refusal> InstanceTable::ClientCount(InstanceId id) {
    std::lock_guard lock(mutex_);
    if (instances_.count(id) == 0) return Refusal::kUnknownInstance;
    return CountRegisteredLocked();
}

Outcome<std::int16_t, Refusal> InstanceTable::Register(InstanceId id, const std::string& name) {
    if (name.size() > options_.maxTextBytes) return Refusal::kBadArgument;
    std::lock_guard lock(mutex_);
    auto it = instances_.find(id);
    if (it == instances_.end()) return Refusal::kUnknownInstance;
    const bool was = it->second.registered;
    it->second.registered = true;
    std::int16_t count = CountRegisteredLocked();
    log_.Line("registration: instance " + ShortId(id) + " of " + it->second.peer +
              " registered as \"" + name + "\"; " + std::to_string(count) + " clients");
    if (!was) {
        Note(SuiteEventKind::kClientRegistered,
             ClientText(it->second.clientProgram, it->second.peer),
             name.empty() ? std::string() : "as \"" + name + "\"");
    }
    return count;
}

Outcome<std::int16_t, Refusal> InstanceTable::Withdraw(InstanceId id) {
    std::lock_guard lock(mutex_);
    auto it = instances_.find(id);
    if (it == instances_.end()) return Refusal::kUnknownInstance;
    bool was = it->second.registered;
    it->second.registered = false;
    std::int16_t count = CountRegisteredLocked();
    if (was) {
        log_.Line("registration: instance " + ShortId(id) + " of " + it->second.peer +
                  " withdrawn; " + std::to_string(count) + " clients");
        Note(SuiteEventKind::kClientWithdrawn,
             ClientText(it->second.clientProgram, it->second.peer), {});
    }
    return count;
}

void InstanceTable::BroadcastLocked(const ServerEvent& event) {
    for (auto& [id, instance] : instances_) {
        if (!instance.queue->Push(event)) {
            log_.Line("events: queue of instance " + ShortId(id) + " is full; event dropped");
        }
    }
}

void InstanceTable::Broadcast(const ServerEvent& event) {
    std::lock_guard lock(mutex_);
    BroadcastLocked(event);
}

void InstanceTable::SlotChanged(int index) {
    ServerEvent change;
    change.idxIndex = static_cast<std::int16_t>(index);
    Broadcast(change);
}

void InstanceTable::Message(const ServerEvent& message) {
    std::lock_guard lock(mutex_);
    log_.Line("message: " + std::to_string(message.intMessage) + ", " +
              std::to_string(message.intVar) + ", \"" + message.strVar + "\" to " +
              std::to_string(instances_.size()) + " instances");
    if (message.intMessage == 0 && message.intVar == -1) {
        standingMessage_ = message;
        nextRepeat_ = clock_.Monotonic() + options_.messageRepeat;
    } else {
        standingMessage_.reset();
    }
    BroadcastLocked(message);
}

std::chrono::steady_clock::time_point InstanceTable::Housekeep(
    std::chrono::steady_clock::time_point now, std::chrono::steady_clock::time_point next) {
    // Instances whose events nobody collects hold resources for a client that
    // never came back for them.
    std::vector<InstanceId> stale;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, instance] : instances_) {
            if (!instance.attached && now - instance.created > options_.unattachedLimit) {
                stale.push_back(id);
            }
        }
    }
    for (InstanceId id : stale) Remove(id, "no event stream");
    std::lock_guard lock(mutex_);
    if (!standingMessage_) return next;
    if (now >= nextRepeat_) {
        for (auto& [id, instance] : instances_) {
            if (instance.attached) instance.queue->Repeat(*standingMessage_);
        }
        nextRepeat_ = now + options_.messageRepeat;
    }
    return std::min(next, nextRepeat_);
}

}  // namespace orvel::suiteserver
