#include "suiteserver/SuiteServerCore.h"

#include <algorithm>
#include <exception>

#include "platform/Clamp.h"
#include "platform/VersionInfo.h"
#include "suite/ComponentCatalog.h"
#include "suite/ComponentStatusCodes.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::suiteserver {

namespace {

using platform::ClampToInt16;

bool ValidIndex(int index) {
    return index >= 0 && index < suite::kComponentSlots;
}

}  // namespace

SuiteServerCore::SuiteServerCore(platform::Registry& registry, ProcessLauncher& launcher,
                                 ComponentRecords& records, platform::Clock& clock,
                                 platform::SystemInfo& systemInfo, ServerLog& log,
                                 CoreOptions options)
    : clock_(clock),
      systemInfo_(systemInfo),
      log_(log),
      options_(std::move(options)),
      instances_(clock, log, options_),
      programs_(registry, log),
      components_(launcher, records, clock, log, options_,
                  {[this](int index) { instances_.SlotChanged(index); }, [this] { Wake(); },
                   [this](int index) { return programs_.Resolve(index); }}) {
    programs_.NoteStoreProblem();
    components_.Recover([this](int index) {
        Program program = programs_.Resolve(index);
        return program.state == ProgramState::kReady ? program.path : std::string();
    });
    if (options_.housekeeperThread) housekeeper_ = std::thread([this] { HousekeeperLoop(); });
}

SuiteServerCore::~SuiteServerCore() {
    CloseAllInstances();
    components_.StopAll();
    {
        std::lock_guard lock(wakeMutex_);
        housekeeperStop_ = true;
    }
    wake_.notify_all();
    if (housekeeper_.joinable()) housekeeper_.join();
}

void SuiteServerCore::Wake() {
    {
        std::lock_guard lock(wakeMutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

// --- instances and registrations -------------------------------------------

Outcome<InstanceId, Refusal> SuiteServerCore::CreateInstance(const std::string& peer,
                                                             const std::string& clientProgram) {
    return instances_.Create(peer, clientProgram);
}

bool SuiteServerCore::ReleaseInstance(InstanceId id) {
    return instances_.Remove(id, "by its client");
}

void SuiteServerCore::EventStreamBroken(InstanceId id) {
    instances_.Remove(id, "event stream broken");
}

void SuiteServerCore::CloseAllInstances() {
    instances_.CloseAll();
}

Outcome<std::shared_ptr<EventQueue>, Refusal> SuiteServerCore::AttachEvents(InstanceId id) {
    return instances_.Attach(id);
}

std::size_t SuiteServerCore::InstanceCount() {
    return instances_.Count();
}

bool SuiteServerCore::Known(InstanceId id) {
    return instances_.Known(id);
}

Outcome<std::int16_t, Refusal> SuiteServerCore::GetClientCount(InstanceId id) {
    return instances_.ClientCount(id);
}

Outcome<std::int16_t, Refusal> SuiteServerCore::ConnectClient(InstanceId id,
                                                              const std::string& name) {
    return instances_.Register(id, name);
}

Outcome<std::int16_t, Refusal> SuiteServerCore::DisconnectClient(InstanceId id) {
    return instances_.Withdraw(id);
}

Refusal SuiteServerCore::SendOperatorMessage(std::int16_t intMessage, std::int16_t intVar,
                                             const std::string& strVar) {
    if (strVar.size() > options_.maxTextBytes) return Refusal::kBadArgument;
    ServerEvent event;
    event.isMessage = true;
    event.intMessage = intMessage;
    event.intVar = intVar;
    event.strVar = strVar;
    instances_.Message(event);
    Wake();  // the housekeeper takes up the repeat
    return Refusal::kNone;
}

// --- component slots ----------------------------------------------------------

Outcome<std::string, Refusal> SuiteServerCore::GetComponentName(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    return std::string(suite::ComponentDefinitions()[static_cast<std::size_t>(index)].displayName);
}

Outcome<std::int32_t, Refusal> SuiteServerCore::GetComponentStatus(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    if (!suite::IsUsedSlot(index)) return suite::kStatusUnsupported;
    if (components_.Running(index)) return suite::kStatusRunning;
    switch (programs_.StateOf(index)) {
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
    if (components_.RunsUnstopped(index)) return suite::kStatusRunning;
    Program program = programs_.Resolve(index);
    // The note names who asked, for the log and the suite's record.
    const std::string asker = instances_.Describe(id);
    switch (program.state) {
        case ProgramState::kNotRegistered:
            components_.Refuse(index, asker, "class not registered");
            return suite::kStatusNotRegistered;
        case ProgramState::kMissing:
            components_.Refuse(index, asker,
                               program.path + " is missing or not executable" +
                                   (program.note.empty() ? "" : " (" + program.note + ")"));
            return suite::kStatusNotAvailable;
        case ProgramState::kRefused:
            components_.Refuse(index, asker, program.note);
            return suite::kStatusNotAvailable;
        case ProgramState::kReady:
            break;
    }
    if (!program.note.empty())
        log_.Line("component: " + ComponentSupervisor::SlotLabel(index) + ": " + program.note);
    return components_.Start(index, program.path, asker);
}

Outcome<std::int32_t, Refusal> SuiteServerCore::StopComponent(InstanceId id, int index) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    if (!ValidIndex(index)) return Refusal::kBadIndex;
    return components_.Stop(index, instances_.Describe(id));
}

// --- timed work ---------------------------------------------------------------

std::chrono::steady_clock::time_point SuiteServerCore::Housekeep() {
    auto now = clock_.Monotonic();
    auto next = components_.Housekeep(now);
    return instances_.Housekeep(now, next);
}

void SuiteServerCore::HousekeeperLoop() {
    for (;;) {
        auto next = std::chrono::steady_clock::time_point{};
        // One failed round costs that round, never the server.
        try {
            next = Housekeep();
        } catch (const std::exception& error) {
            log_.Line(std::string("housekeeping round failed: ") + error.what());
            next = clock_.Monotonic() + std::chrono::seconds(1);
        } catch (...) {
            log_.Line("housekeeping round failed");
            next = clock_.Monotonic() + std::chrono::seconds(1);
        }
        std::unique_lock lock(wakeMutex_);
        if (housekeeperStop_) return;
        auto wait = std::max(next - clock_.Monotonic(),
                             std::chrono::steady_clock::duration(std::chrono::milliseconds(5)));
        wake_.wait_for(lock, wait, [&] { return woken_ || housekeeperStop_; });
        woken_ = false;
        if (housekeeperStop_) return;
    }
}

// --- identity -----------------------------------------------------------------

Outcome<std::string, Refusal> SuiteServerCore::GetActiveSet(InstanceId id) {
    if (!Known(id)) return Refusal::kUnknownInstance;
    auto set = programs_.ActiveSet();
    if (!set || TrimmedValue(*set).empty()) return std::string(suite::kNoActiveSet);
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
