// The suite server's core in this process: a recording launcher, a clock that
// moves only when told, the registry store in memory.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "FakeClock.h"
#include "FakeSystemInfo.h"
#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "platform/linux/SqliteRegistry.h"
#include "suite/ComponentCatalog.h"
#include "suite/ComponentStatusCodes.h"
#include "suite/SuiteServerSettings.h"
#include "suiteserver/ComponentRecords.h"
#include "suiteserver/ProcTable.h"
#include "suiteserver/ServerLog.h"
#include "suiteserver/SuiteServerCore.h"

namespace orvel::suiteserver {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Starts nothing: remembers what it was asked, and lets the test end processes.
class RecordingLauncher : public ProcessLauncher {
  public:
    ~RecordingLauncher() override { StopWatching(); }

    LaunchResult Launch(const std::string& programPath, const std::vector<std::string>& environment,
                        const OutputLabel&, ExitHandler onExit) override {
        if (onLaunch) onLaunch();
        std::lock_guard lock(mutex_);
        launched.push_back(programPath);
        environments.push_back(environment);
        if (failLaunch) return {0, 0, "refused by the test", {}};
        pid_t pid = nextPid_++;
        handlers_[pid] = std::move(onExit);
        return {pid, 5000u + static_cast<std::uint64_t>(pid), {}, {}};
    }
    AdoptVerdict Adopt(ProcessIdentity process, const std::string&, ExitHandler onExit) override {
        std::lock_guard lock(mutex_);
        auto it = verdicts.find(process.pid);
        AdoptVerdict verdict = it == verdicts.end() ? AdoptVerdict::kGone : it->second;
        if (verdict == AdoptVerdict::kAdopted) handlers_[process.pid] = std::move(onExit);
        return verdict;
    }
    std::vector<MarkedProcess> FindMarked(std::string_view variable,
                                          std::string_view prefix) override {
        EXPECT_EQ(variable, kMarkerVariable);
        EXPECT_EQ(prefix, "core-test:");
        return marked;
    }
    void EndOrphan(ProcessIdentity process) override { orphansEnded.push_back(process); }
    void Signal(pid_t component, int signalNumber) override {
        if (onSignal) onSignal(signalNumber);
        std::lock_guard lock(mutex_);
        signals.emplace(component, signalNumber);
        // A process that ends on this signal does so on a thread of its own,
        // as the real watcher reports it.
        if (signalNumber == endsOn && handlers_.count(component) != 0) {
            enders_.emplace_back(
                [this, component, signalNumber] { Exit(component, signalNumber); });
        }
    }
    bool Remains(pid_t component) override {
        std::lock_guard lock(mutex_);
        return remaining.count(component) != 0;
    }
    void Forget(pid_t component) override {
        std::lock_guard lock(mutex_);
        forgotten.push_back(component);
    }
    void StopWatching() override {
        std::vector<std::thread> enders;
        {
            std::lock_guard lock(mutex_);
            watchingStopped = true;
            enders.swap(enders_);
        }
        for (auto& ender : enders) ender.join();
    }
    void EndStrays() override { ++strayEndings; }

    // The first process of a component ends with this wait status.
    void Exit(pid_t pid, int status) {
        ExitHandler handler;
        {
            std::lock_guard lock(mutex_);
            auto it = handlers_.find(pid);
            if (it == handlers_.end()) return;
            handler = std::move(it->second);
            handlers_.erase(it);
        }
        handler(pid, status);
    }

    std::vector<std::string> launched;
    std::vector<std::vector<std::string>> environments;
    std::vector<MarkedProcess> marked;
    std::function<void()> onLaunch;
    std::function<void(int)> onSignal;
    bool failLaunch = false;
    std::vector<ProcessIdentity> orphansEnded;
    // Read by the test while no process ends on a thread of its own.
    std::multiset<std::pair<pid_t, int>> signals;
    std::vector<pid_t> forgotten;
    std::set<pid_t> remaining;
    std::map<pid_t, AdoptVerdict> verdicts;
    int endsOn = 0;
    int strayEndings = 0;
    bool watchingStopped = false;

  private:
    std::mutex mutex_;
    pid_t nextPid_ = 4000;
    std::map<pid_t, ExitHandler> handlers_;
    std::vector<std::thread> enders_;
};

class MemoryRecords : public ComponentRecords {
  public:
    std::vector<ComponentRecord> Load() override { return stored; }
    bool Save(const std::vector<ComponentRecord>& records, std::string*) override {
        stored = records;
        return true;
    }
    std::string InstallationId() override { return "core-test"; }
    std::vector<ComponentRecord> stored;
};

class RecordingLog : public ServerLog {
  public:
    void Line(std::string_view text) override {
        std::lock_guard lock(mutex_);
        text_ += std::string(text) + "\n";
    }
    std::string Text() {
        std::lock_guard lock(mutex_);
        return text_;
    }

  private:
    std::mutex mutex_;
    std::string text_;
};

class CoreTest : public ::testing::Test {
  protected:
    CoreTest() {
        options.housekeeperThread = false;
        options.stopWait = 0ms;
        options.startWait = 0ms;
        options.stopGrace = 5000ms;
        fakes::Seed(registry, platform::HKEY_LOCAL_MACHINE, suite::kSuiteFolderKey,
                    suite::kSuiteFolderValue, platform::REG_SZ, fakes::Sz(suiteFolder.str()));
    }
    ~CoreTest() override {
        // The core ends what still runs at its end: let it, without waiting.
        launcher.endsOn = SIGTERM;
        core.reset();
    }

    void MakeCore() {
        core = std::make_unique<SuiteServerCore>(registry, launcher, records, clock, systemInfo,
                                                 log, options);
        instance = core->CreateInstance("unix:", "core_tests").value();
        events = core->AttachEvents(instance).value();
        ASSERT_TRUE(events);
    }
    // A runnable program in the suite folder, registered as the slot's program
    // under the path given (absolute when empty).
    std::string Install(int slot, const std::string& registeredAs = {}) {
        const auto& definition = suite::ComponentDefinitions()[static_cast<std::size_t>(slot)];
        std::string program = suiteFolder.str(definition.exeName);
        fakes::WriteFile(program, "#!/bin/sh\n");
        chmod(program.c_str(), 0755);
        Register(slot, registeredAs.empty() ? program : registeredAs);
        return program;
    }
    void Register(int slot, const std::string& path) {
        const auto& definition = suite::ComponentDefinitions()[static_cast<std::size_t>(slot)];
        fakes::Seed(registry, platform::HKEY_CLASSES_ROOT,
                    "CLSID\\" + std::string(definition.classId) + "\\LocalServer32", "",
                    platform::REG_SZ, fakes::Sz(path));
    }
    std::int32_t Status(int slot) { return core->GetComponentStatus(instance, slot).value_or(99); }
    std::int32_t Start(int slot) { return core->StartComponent(instance, slot).value_or(99); }
    std::int32_t Stop(int slot) { return core->StopComponent(instance, slot).value_or(99); }
    // The change events and messages waiting in the instance's queue.
    std::vector<std::string> TakeEvents() {
        bool closed = false;
        std::vector<std::string> taken;
        for (const auto& event : events->Wait(0ms, &closed)) {
            taken.push_back(event.isMessage
                                ? "message " + std::to_string(event.intVar) + " " + event.strVar
                                : "change " + std::to_string(event.idxIndex));
        }
        return taken;
    }
    void Advance(std::chrono::milliseconds step) {
        clock.Advance(step);
        core->Housekeep();
    }

    fakes::TempDir suiteFolder{"orvel-core"};
    platform::SqliteRegistry registry{":memory:"};
    RecordingLauncher launcher;
    MemoryRecords records;
    fakes::FakeClock clock;
    fakes::FakeSystemInfo systemInfo;
    RecordingLog log;
    CoreOptions options;
    std::unique_ptr<SuiteServerCore> core;
    InstanceId instance = 0;
    std::shared_ptr<EventQueue> events;
};

TEST_F(CoreTest, StatusCodesStartRefusalsAndOneProcessPerSlot) {
    std::string deviceControl = Install(0);
    Register(2, suiteFolder.str("FaultStatServer.exe"));  // no such file
    fakes::WriteFile(suiteFolder.str("ClockSyncServer.exe"), "not a program");
    Register(8, suiteFolder.str("ClockSyncServer.exe"));
    MakeCore();

    EXPECT_EQ(Status(16), suite::kStatusUnsupported);
    EXPECT_EQ(Status(1), suite::kStatusNotRegistered);
    EXPECT_EQ(Status(2), suite::kStatusNotAvailable);
    EXPECT_EQ(Status(8), suite::kStatusNotAvailable);
    EXPECT_EQ(Status(0), suite::kStatusOffLine);
    for (int slot : {1, 2, 8, 16}) EXPECT_EQ(Start(slot), Status(slot)) << slot;
    EXPECT_THAT(launcher.launched, IsEmpty());

    EXPECT_EQ(Start(0), suite::kStatusRunning);
    EXPECT_EQ(Start(0), suite::kStatusRunning);
    EXPECT_EQ(launcher.launched, std::vector<std::string>{deviceControl});
    EXPECT_EQ(Status(0), suite::kStatusRunning);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"change 0"});
    ASSERT_EQ(records.stored.size(), 1u);
    EXPECT_EQ(records.stored[0].process, (ProcessIdentity{4000, 9000}));
    EXPECT_EQ(records.stored[0].program, deviceControl);

    // An end nobody asked for is a change; nothing of it remains, so the slot
    // is free and its record gone.
    launcher.Exit(4000, 9);
    EXPECT_EQ(Status(0), suite::kStatusOffLine);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"change 0"});
    EXPECT_THAT(records.stored, IsEmpty());
    EXPECT_THAT(log.Text(), HasSubstr("ended (signal 9)"));

    // The registration is read afresh: a role change takes effect at once.
    Register(2, deviceControl);
    EXPECT_EQ(Status(2), suite::kStatusOffLine);

    // Refusals: an unknown instance, an index outside 0..19.
    EXPECT_EQ(core->GetComponentStatus(instance + 1, 0).error(), Refusal::kUnknownInstance);
    for (int bad : {-1, 20, 32767}) {
        EXPECT_EQ(core->StartComponent(instance, bad).error(), Refusal::kBadIndex);
        EXPECT_EQ(core->StopComponent(instance, bad).error(), Refusal::kBadIndex);
        EXPECT_EQ(core->GetComponentName(instance, bad).error(), Refusal::kBadIndex);
    }
}

TEST_F(CoreTest, RelativeProgramPathsResolveInsideTheSuiteFolderOnly) {
    std::string program = Install(0, "DeviceControlServer.exe");
    Install(5, "../../bin/true");
    MakeCore();
    EXPECT_EQ(Start(0), suite::kStatusRunning);
    EXPECT_EQ(launcher.launched, std::vector<std::string>{program});
    EXPECT_THAT(log.Text(), HasSubstr("resolved against the suite folder " + suiteFolder.str()));

    EXPECT_EQ(Status(5), suite::kStatusNotAvailable);
    EXPECT_EQ(Start(5), suite::kStatusNotAvailable);
    EXPECT_EQ(launcher.launched.size(), 1u);
    EXPECT_THAT(log.Text(), HasSubstr("\"../../bin/true\" refused: it leaves the suite folder"));
}

TEST_F(CoreTest, AComponentEndsWholeAfterItsFirstProcessAndIsKilledAtTheGrace) {
    Install(3);
    MakeCore();
    ASSERT_EQ(Start(3), suite::kStatusRunning);
    TakeEvents();

    // Still ending when the answer is due: 1, and the whole group is asked.
    EXPECT_EQ(Stop(3), suite::kStatusRunning);
    EXPECT_EQ(launcher.signals.count({4000, SIGTERM}), 1u);
    EXPECT_EQ(Stop(3), suite::kStatusRunning);  // asked once only
    EXPECT_EQ(launcher.signals.count({4000, SIGTERM}), 1u);

    // The first process ends, a helper ignoring the request lives on: the
    // slot is off but the component is not forgotten.
    launcher.remaining.insert(4000);
    launcher.Exit(4000, 15);
    EXPECT_EQ(Status(3), suite::kStatusOffLine);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"change 3"});
    Advance(4900ms);
    EXPECT_EQ(launcher.signals.count({4000, SIGKILL}), 0u);
    EXPECT_EQ(records.stored.size(), 1u);  // a restarted server would still know it
    Advance(100ms);
    EXPECT_EQ(launcher.signals.count({4000, SIGKILL}), 1u);
    EXPECT_THAT(log.Text(), HasSubstr("did not end in time; killed"));

    launcher.remaining.clear();
    Advance(10ms);
    EXPECT_EQ(launcher.forgotten, std::vector<pid_t>{4000});
    EXPECT_THAT(records.stored, IsEmpty());
    EXPECT_THAT(log.Text(), HasSubstr("has ended completely"));

    // A first process that ends unasked and leaves processes behind: they are
    // asked to end, and killed at the grace.
    ASSERT_EQ(Start(3), suite::kStatusRunning);
    launcher.remaining.insert(4001);
    launcher.Exit(4001, 0);
    EXPECT_EQ(launcher.signals.count({4001, SIGTERM}), 1u);
    EXPECT_THAT(log.Text(), HasSubstr("left processes behind"));
    Advance(5000ms);
    EXPECT_EQ(launcher.signals.count({4001, SIGKILL}), 1u);
    launcher.remaining.clear();
}

TEST_F(CoreTest, StartDuringAStopRunsOnceTheStopHasEnded) {
    std::string program = Install(6);
    MakeCore();
    ASSERT_EQ(Start(6), suite::kStatusRunning);
    ASSERT_EQ(Stop(6), suite::kStatusRunning);
    TakeEvents();

    // The old program still ends: nothing starts yet, and the answer does not
    // claim the new one runs.
    EXPECT_EQ(Start(6), suite::kStatusOffLine);
    EXPECT_EQ(Start(6), suite::kStatusOffLine);
    EXPECT_EQ(launcher.launched.size(), 1u);

    launcher.Exit(4000, 15);
    EXPECT_EQ(launcher.launched, (std::vector<std::string>{program, program}));
    EXPECT_EQ(Status(6), suite::kStatusRunning);
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"change 6", "change 6"}));
    ASSERT_EQ(records.stored.size(), 1u);
    EXPECT_EQ(records.stored[0].process.pid, 4001);

    // A stop withdraws a start that still waits.
    ASSERT_EQ(Stop(6), suite::kStatusRunning);
    EXPECT_EQ(Start(6), suite::kStatusOffLine);
    EXPECT_EQ(Stop(6), suite::kStatusRunning);
    launcher.Exit(4001, 15);
    EXPECT_EQ(launcher.launched.size(), 2u);
    EXPECT_EQ(Status(6), suite::kStatusOffLine);
}

TEST_F(CoreTest, StartThatWaitsLongEnoughAnswersWithTheStartedProgram) {
    Install(6);
    options.startWait = 5s;
    launcher.endsOn = SIGTERM;  // the old program ends a moment after the request
    MakeCore();
    ASSERT_EQ(Start(6), suite::kStatusRunning);
    core->StopComponent(instance, 6);
    EXPECT_EQ(Start(6), suite::kStatusRunning);
    EXPECT_EQ(launcher.launched.size(), 2u);
}

TEST_F(CoreTest, RecordedComponentsStillRunningAreAdoptedOthersDropped) {
    std::string deviceControl = Install(0);
    std::string matrix = Install(5);
    records.stored = {{0, {700, 11}, deviceControl, "", std::nullopt},
                      {5, {701, 12}, matrix, "", std::nullopt},
                      {0, {702, 13}, deviceControl, "", std::nullopt},
                      {17, {703, 14}, matrix, "", std::nullopt}};
    launcher.verdicts = {{700, AdoptVerdict::kAdopted},
                         {701, AdoptVerdict::kOtherProcess},
                         {702, AdoptVerdict::kAdopted}};
    MakeCore();

    EXPECT_EQ(Status(0), suite::kStatusRunning);
    EXPECT_EQ(Start(0), suite::kStatusRunning);
    EXPECT_EQ(Status(5), suite::kStatusOffLine);
    EXPECT_THAT(launcher.launched, IsEmpty());
    EXPECT_EQ(records.stored,
              (std::vector<ComponentRecord>{{0, {700, 11}, deviceControl, "", std::nullopt}}));
    std::string text = log.Text();
    EXPECT_THAT(text, HasSubstr("process 700 (" + deviceControl + ") still runs"));
    EXPECT_THAT(text, HasSubstr("dropped: its process id now belongs to another process"));
    EXPECT_THAT(text, HasSubstr("second record"));
    EXPECT_THAT(text, HasSubstr("no such slot"));

    // Its end is seen without an exit status; the slot can start afresh.
    launcher.Exit(700, -1);
    EXPECT_THAT(log.Text(), HasSubstr("exit status unknown"));
    EXPECT_EQ(Start(0), suite::kStatusRunning);
    EXPECT_EQ(launcher.launched.size(), 1u);
}

TEST_F(CoreTest, ShutdownEndsComponentsThenStopsTheWatcherBeforeTheCoreGoes) {
    Install(0);
    Install(5);
    options.stopGrace = 20ms;
    MakeCore();
    ASSERT_EQ(Start(0), suite::kStatusRunning);
    ASSERT_EQ(Start(5), suite::kStatusRunning);
    launcher.endsOn = SIGKILL;  // neither ends on the request
    core.reset();
    EXPECT_EQ(launcher.signals.count({4000, SIGTERM}), 1u);
    EXPECT_EQ(launcher.signals.count({4001, SIGKILL}), 1u);
    EXPECT_TRUE(launcher.watchingStopped);
    EXPECT_EQ(launcher.strayEndings, 1);
    EXPECT_THAT(records.stored, IsEmpty());
}

TEST_F(CoreTest, InstanceCapsClientsLongTextsAndUnattachedInstances) {
    options.maxInstances = 4;
    options.maxInstancesPerPeer = 2;
    MakeCore();
    auto second = core->CreateInstance("unix:", "second");
    ASSERT_TRUE(second);
    EXPECT_EQ(core->CreateInstance("unix:", "third").error(), Refusal::kTooManyInstances);
    EXPECT_EQ(core->ConnectClient(instance, "ClientName").value_or(0), 1);
    EXPECT_EQ(core->ConnectClient(second.value(), "ClientName").value_or(0), 2);
    EXPECT_EQ(core->DisconnectClient(instance).value_or(0), 1);
    EXPECT_EQ(core->GetClientCount(instance).value_or(0), 1);
    EXPECT_TRUE(core->CreateInstance("ipv4:10.0.0.2:1", ""));
    EXPECT_TRUE(core->CreateInstance("ipv4:10.0.0.3:1", ""));
    EXPECT_EQ(core->CreateInstance("ipv4:10.0.0.4:1", "").error(), Refusal::kTooManyInstances);
    EXPECT_EQ(core->ConnectClient(instance, std::string(5000, 'x')).error(), Refusal::kBadArgument);
    EXPECT_EQ(core->SendOperatorMessage(0, -1, std::string(5000, 'x')), Refusal::kBadArgument);
    EXPECT_EQ(core->AttachEvents(instance).error(), Refusal::kAlreadyAttached);

    // The three without an event stream are released once the limit passes,
    // the registration of one of them with it.
    Advance(options.unattachedLimit);
    EXPECT_EQ(core->InstanceCount(), 4u);
    Advance(1ms);
    EXPECT_EQ(core->InstanceCount(), 1u);
    EXPECT_THAT(log.Text(), HasSubstr("(no event stream)"));
    EXPECT_EQ(core->GetClientCount(instance).value_or(99), 0);

    // The active set is read afresh at every call.
    EXPECT_EQ(core->GetActiveSet(instance).value_or(""), "No Active Set");
    fakes::Seed(registry, platform::HKEY_LOCAL_MACHINE, suite::kActiveSetKey,
                suite::kActiveSetValue, platform::REG_SZ, fakes::Sz("Studio A"));
    EXPECT_EQ(core->GetActiveSet(instance).value_or(""), "Studio A");
}

TEST_F(CoreTest, FullEventQueueDropsAndSaysSo) {
    options.maxQueuedEvents = 2;
    Install(0);
    MakeCore();
    ASSERT_EQ(Start(0), suite::kStatusRunning);
    launcher.Exit(4000, 0);
    ASSERT_EQ(Start(0), suite::kStatusRunning);
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"change 0", "change 0"}));
    EXPECT_THAT(log.Text(), HasSubstr("is full; event dropped"));
    // Taking the events makes room again.
    launcher.Exit(4001, 0);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"change 0"});
}

TEST_F(CoreTest, StandingMessageIsSentAgainUntilWithdrawn) {
    MakeCore();
    auto unattached = core->CreateInstance("unix:", "").value();
    ASSERT_EQ(core->SendOperatorMessage(0, -1, "Backup running"), Refusal::kNone);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"message -1 Backup running"});
    Advance(200ms);
    EXPECT_THAT(TakeEvents(), IsEmpty());
    Advance(50ms);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"message -1 Backup running"});
    // Not collected: the queue holds it once, however long it stands.
    Advance(250ms);
    Advance(250ms);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"message -1 Backup running"});

    ASSERT_EQ(core->SendOperatorMessage(0, 0, ""), Refusal::kNone);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"message 0 "});
    Advance(1000ms);
    EXPECT_THAT(TakeEvents(), IsEmpty());
    EXPECT_TRUE(core->ReleaseInstance(unattached));
}

// A start is on record (with the marker its child carries) before the spawn,
// a stop (with its deadline) before the first signal; a failed spawn undoes
// its record. The named steps come in the order a killed server must handle.
TEST_F(CoreTest, StartsAndStopsAreRecordedBeforeTheyAct) {
    std::string program = Install(4);
    std::vector<std::string> steps;
    options.reached = [&](std::string_view step) { steps.emplace_back(step); };
    MakeCore();
    std::vector<ComponentRecord> atSpawn;
    launcher.onLaunch = [&] { atSpawn = records.stored; };
    ASSERT_EQ(Start(4), suite::kStatusRunning);
    ASSERT_EQ(atSpawn.size(), 1u);
    EXPECT_EQ(atSpawn[0].process.pid, 0);
    EXPECT_EQ(atSpawn[0].program, program);
    EXPECT_THAT(atSpawn[0].marker, ::testing::StartsWith("core-test:4:"));
    EXPECT_EQ(launcher.environments.back(),
              std::vector<std::string>{"ORVEL_COMPONENT_MARKER=" + atSpawn[0].marker});
    ASSERT_EQ(records.stored.size(), 1u);
    EXPECT_EQ(records.stored[0].process.pid, 4000);
    EXPECT_EQ(records.stored[0].marker, atSpawn[0].marker);

    std::vector<ComponentRecord> atTerm;
    launcher.onSignal = [&](int signalNumber) {
        if (signalNumber == SIGTERM) atTerm = records.stored;
    };
    ASSERT_EQ(Stop(4), suite::kStatusRunning);
    ASSERT_EQ(atTerm.size(), 1u);
    auto deadline = std::chrono::duration_cast<std::chrono::milliseconds>(
        (clock.monotonic + options.stopGrace).time_since_epoch());
    EXPECT_EQ(atTerm[0].stopDeadline, deadline.count());
    Advance(options.stopGrace);
    launcher.Exit(4000, SIGKILL);
    EXPECT_THAT(records.stored, IsEmpty());
    EXPECT_EQ(steps, (std::vector<std::string>{"start-intent", "start-spawned", "start-recorded",
                                               "stop-intent", "stop-signalled", "stop-killed",
                                               "stop-ended"}));

    // A markerless new marker each start; a spawn that fails leaves no record.
    launcher.onLaunch = nullptr;
    launcher.failLaunch = true;
    EXPECT_EQ(Start(4), suite::kStatusNotAvailable);
    EXPECT_THAT(records.stored, IsEmpty());
    EXPECT_NE(launcher.environments[1], launcher.environments[0]);
}

// What a killed server left: a start whose child runs (found by its marker)
// is adopted, one whose spawn never happened is undone, a stop in progress
// goes on to its recorded deadline and the kill.
TEST_F(CoreTest, RestartFinishesOrUndoesWhatTheKilledServerWasDoing) {
    std::string deviceControl = Install(0);
    std::string matrix = Install(5);
    std::string panel = Install(6);
    const std::int64_t deadline = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      (clock.monotonic + 2000ms).time_since_epoch())
                                      .count();
    records.stored = {{0, {0, 0}, deviceControl, "core-test:0:aa", std::nullopt},
                      {5, {0, 0}, matrix, "core-test:5:bb", std::nullopt},
                      {6, {900, 33}, panel, "core-test:6:cc", deadline}};
    // Slot 0's child and a helper it started; the helper's parent carries the marker.
    launcher.marked = {{{810, 21}, 1, "core-test:0:aa"},
                       {{811, 22}, 810, "core-test:0:aa"},
                       {{900, 33}, 1, "core-test:6:cc"}};
    launcher.verdicts = {{810, AdoptVerdict::kAdopted}, {900, AdoptVerdict::kAdopted}};
    MakeCore();

    EXPECT_EQ(Status(0), suite::kStatusRunning);
    EXPECT_EQ(Status(5), suite::kStatusOffLine);
    EXPECT_THAT(launcher.orphansEnded, IsEmpty());
    EXPECT_EQ(launcher.signals.count({900, SIGTERM}), 1u);
    std::string text = log.Text();
    EXPECT_THAT(text, HasSubstr("process 810 (" + deviceControl + ") still runs"));
    EXPECT_THAT(text, HasSubstr("start of " + matrix + " had not begun"));
    EXPECT_THAT(text, HasSubstr("was being stopped when the server ended"));
    ASSERT_EQ(records.stored.size(), 2u);
    EXPECT_EQ(records.stored[0].process, (ProcessIdentity{810, 21}));
    EXPECT_EQ(records.stored[1].stopDeadline, deadline);

    // The stop keeps its deadline, not a fresh grace.
    Advance(1900ms);
    EXPECT_EQ(launcher.signals.count({900, SIGKILL}), 0u);
    Advance(100ms);
    EXPECT_EQ(launcher.signals.count({900, SIGKILL}), 1u);
    launcher.Exit(900, SIGKILL);
    EXPECT_EQ(Status(6), suite::kStatusOffLine);
    EXPECT_EQ(Start(5), suite::kStatusRunning);
    EXPECT_EQ(launcher.launched, std::vector<std::string>{matrix});
}

// Marked processes no record names: the first of a start is adopted into its
// free slot when it runs that slot's program; a second copy for a taken slot,
// one for an unused slot and one running another program are ended, helpers
// with them. Another installation's markers are never asked for.
TEST_F(CoreTest, OrphansOfThisInstallationAreAdoptedIntoFreeSlotsOrEnded) {
    std::string deviceControl = Install(0);
    Install(3);
    records.stored = {{0, {700, 11}, deviceControl, "core-test:0:aa", std::nullopt}};
    launcher.marked = {{{700, 11}, 1, "core-test:0:aa"},
                       {{720, 30}, 1, "core-test:0:dd"},    // a second copy of slot 0
                       {{721, 31}, 720, "core-test:0:dd"},  // and its helper
                       {{730, 40}, 1, "core-test:3:ee"},    // slot 3, free
                       {{740, 50}, 1, "core-test:16:ff"},   // an unused slot
                       {{750, 60}, 1, "core-test:3:gg"}};   // slot 3 again: taken by then
    launcher.verdicts = {{700, AdoptVerdict::kAdopted},
                         {720, AdoptVerdict::kAdopted},
                         {730, AdoptVerdict::kAdopted},
                         {750, AdoptVerdict::kAdopted}};
    MakeCore();

    EXPECT_EQ(Status(0), suite::kStatusRunning);
    EXPECT_EQ(Status(3), suite::kStatusRunning);
    std::set<pid_t> ended;
    for (const auto& process : launcher.orphansEnded) ended.insert(process.pid);
    EXPECT_EQ(ended, (std::set<pid_t>{720, 721, 740, 750}));
    EXPECT_THAT(log.Text(), HasSubstr("process 730"));
    EXPECT_THAT(log.Text(), HasSubstr("runs without a record; adopted"));
    EXPECT_THAT(log.Text(), HasSubstr("belongs to no slot; ended"));
    ASSERT_EQ(records.stored.size(), 2u);
    EXPECT_EQ(records.stored[1].marker, "core-test:3:ee");
    EXPECT_THAT(launcher.launched, IsEmpty());
}

// The records live on a tmpfs where one can be had: a relocated installation
// keeps them in the user's runtime folder, one file per installation, and an
// upgrade moves the file an earlier server left in the socket folder.
TEST(ComponentStateFile, KeptInTheRuntimeFolderAndMovedThereWithoutLosingARecord) {
    fakes::TempDir root{"orvel-records"};
    const std::string socketFolder = root.str("run");
    const std::string otherSocketFolder = root.str("other/run");
    std::filesystem::create_directories(socketFolder);
    std::filesystem::create_directories(root.str("runtime"));
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = saved != nullptr ? saved : "";
    setenv("XDG_RUNTIME_DIR", root.str("runtime").c_str(), 1);

    const std::string path = ComponentStatePath(socketFolder, true);
    EXPECT_EQ(path.rfind(root.str("runtime") + "/orvel/", 0), 0u) << path;
    EXPECT_NE(ComponentStatePath(otherSocketFolder, true), path);
    EXPECT_EQ(ComponentStatePath(socketFolder, false), socketFolder + "/components.state");
    // A runtime folder others may write to is not used.
    chmod(root.str("runtime/orvel").c_str(), 0777);
    EXPECT_EQ(ComponentStatePath(socketFolder, true), socketFolder + "/components.state");
    chmod(root.str("runtime/orvel").c_str(), 0700);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(ComponentStatePath(socketFolder, true), socketFolder + "/components.state");
    if (saved != nullptr) setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);

    // What an earlier server wrote in the socket folder.
    const std::string former = socketFolder + "/components.state";
    ComponentStateFile old(former);
    const std::vector<ComponentRecord> records = {
        {4, {4321, 777}, "/opt/suite/Demo.exe", old.InstallationId() + ":4:aa", std::nullopt},
        {6, {0, 0}, "/opt/suite/Six.exe", old.InstallationId() + ":6:bb", 99}};
    std::string why;
    ASSERT_TRUE(old.Save(records, &why)) << why;

    ComponentStateFile moved(path, socketFolder);
    EXPECT_EQ(moved.InstallationId(), old.InstallationId());  // the markers still match
    EXPECT_THAT(moved.TakeOver(former), HasSubstr("moved"));
    EXPECT_EQ(moved.Load(), records);
    EXPECT_FALSE(std::filesystem::exists(former));
    EXPECT_EQ(moved.TakeOver(former), "");  // nothing left to move
    EXPECT_EQ(moved.Load(), records);

    // Where the new place cannot be written, the records stay where they are.
    ASSERT_TRUE(old.Save(records, &why)) << why;
    ComponentStateFile nowhere(root.str("missing/components.state"), socketFolder);
    EXPECT_THAT(nowhere.TakeOver(former), HasSubstr("stay where they are"));
    EXPECT_EQ(nowhere.Path(), former);
    EXPECT_EQ(nowhere.Load(), records);

    // After an orderly stop the file goes with its last record.
    moved.RemoveWhenEmpty();
    EXPECT_TRUE(std::filesystem::exists(path));
    ASSERT_TRUE(moved.Save({}, &why)) << why;
    moved.RemoveWhenEmpty();
    EXPECT_FALSE(std::filesystem::exists(path));
}

// What the supervisor records, in order.
class RecordedEvents : public SuiteEvents {
  public:
    void Record(const SuiteEvent& event) override {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    std::vector<SuiteEvent> All() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<SuiteEventKind> Kinds() {
        std::vector<SuiteEventKind> kinds;
        for (const auto& event : All()) kinds.push_back(event.kind);
        return kinds;
    }
    std::vector<SuiteEvent> Of(SuiteEventKind kind) {
        std::vector<SuiteEvent> found;
        for (const auto& event : All()) {
            if (event.kind == kind) found.push_back(event);
        }
        return found;
    }

  private:
    std::mutex mutex_;
    std::vector<SuiteEvent> events_;
};

constexpr int kExitCode1 = 1 << 8;  // a wait status: exited with code 1

class RestartTest : public CoreTest {
  protected:
    RestartTest() { options.events = &recorded; }
    ~RestartTest() override {
        launcher.endsOn = SIGTERM;
        core.reset();  // records its last events before `recorded` goes
    }
    void RestartOnFailure(int slot, std::uint32_t value) {
        const auto& definition = suite::ComponentDefinitions()[static_cast<std::size_t>(slot)];
        fakes::Seed(registry, platform::HKEY_CLASSES_ROOT,
                    "CLSID\\" + std::string(definition.classId) + "\\LocalServer32",
                    kRestartOnFailureValue, platform::REG_DWORD, fakes::Dword(value));
    }
    // The process the last launch started.
    pid_t LastPid() const { return 4000 + static_cast<pid_t>(launcher.launched.size()) - 1; }

    RecordedEvents recorded;
};

using Kind = SuiteEventKind;

TEST_F(RestartTest, AFailedComponentIsRestartedAfterAGrowingDelayAndRecorded) {
    Install(4);
    Install(5);  // restart not asked for
    RestartOnFailure(4, 1);
    MakeCore();
    ASSERT_EQ(Start(4), suite::kStatusRunning);
    clock.Advance(2000ms);
    launcher.Exit(4000, kExitCode1);
    EXPECT_EQ(Status(4), suite::kStatusOffLine);
    Advance(99ms);
    EXPECT_EQ(launcher.launched.size(), 1u);
    Advance(1ms);
    ASSERT_EQ(launcher.launched.size(), 2u);
    EXPECT_EQ(Status(4), suite::kStatusRunning);

    // The next failure waits twice as long; a signal nobody sent is a failure.
    launcher.Exit(4001, SIGSEGV);
    Advance(199ms);
    EXPECT_EQ(launcher.launched.size(), 2u);
    Advance(1ms);
    ASSERT_EQ(launcher.launched.size(), 3u);

    EXPECT_EQ(recorded.Kinds(),
              (std::vector<Kind>{Kind::kComponentStarted, Kind::kComponentExited,
                                 Kind::kComponentRestarted, Kind::kComponentExited,
                                 Kind::kComponentRestarted}));
    auto exits = recorded.Of(Kind::kComponentExited);
    EXPECT_EQ(exits[0].slot, 4);
    EXPECT_EQ(exits[0].component, "Matrix Control");
    EXPECT_EQ(exits[0].pid, 4000);
    EXPECT_EQ(exits[0].exitCode, 1);
    EXPECT_EQ(exits[0].runTime, 2000ms);
    EXPECT_EQ(exits[1].signal, SIGSEGV);
    EXPECT_EQ(recorded.Of(Kind::kComponentRestarted)[1].pid, 4002);

    // An exit with code 0 is not a failure; a slot without the value keeps
    // today's behaviour; the value turned off before the delay ends wins.
    launcher.Exit(4002, 0);
    ASSERT_EQ(Start(5), suite::kStatusRunning);
    launcher.Exit(LastPid(), kExitCode1);
    Advance(60s);
    EXPECT_EQ(launcher.launched.size(), 4u);
    ASSERT_EQ(Start(4), suite::kStatusRunning);
    launcher.Exit(LastPid(), kExitCode1);
    RestartOnFailure(4, 0);
    Advance(60s);
    EXPECT_EQ(launcher.launched.size(), 5u);
    EXPECT_EQ(recorded.Of(Kind::kComponentRestarted).size(), 2u);
}

TEST_F(RestartTest, TheBurstLimitStopsAComponentThatExitsAtOnceUntilItIsStarted) {
    Install(4);
    RestartOnFailure(4, 1);
    MakeCore();
    ASSERT_EQ(Start(4), suite::kStatusRunning);
    // Each restart exits at once: five restarts within the minute, not a sixth.
    auto delay = options.restart.firstDelay;
    for (int restart = 1; restart <= 6; ++restart) {
        launcher.Exit(LastPid(), kExitCode1);
        Advance(delay);
        delay *= 2;
    }
    EXPECT_EQ(launcher.launched.size(), 6u);
    Advance(10min);
    EXPECT_EQ(launcher.launched.size(), 6u);
    EXPECT_EQ(Status(4), suite::kStatusOffLine);
    EXPECT_EQ(recorded.Of(Kind::kComponentRestarted).size(), 5u);
    auto limit = recorded.Of(Kind::kRestartLimitHit);
    ASSERT_EQ(limit.size(), 1u);
    EXPECT_THAT(limit[0].detail, HasSubstr("5 restarts within 60000 ms"));
    EXPECT_EQ(recorded.Kinds().back(), Kind::kRestartLimitHit);

    // A start by hand begins afresh: the first delay again.
    ASSERT_EQ(Start(4), suite::kStatusRunning);
    launcher.Exit(LastPid(), kExitCode1);
    Advance(options.restart.firstDelay);
    EXPECT_EQ(launcher.launched.size(), 8u);
}

TEST_F(RestartTest, AStopIsNeverFollowedByARestart) {
    Install(4);
    RestartOnFailure(4, 1);
    MakeCore();
    // The operator's stop: the component ends on the signal it was sent.
    ASSERT_EQ(Start(4), suite::kStatusRunning);
    Stop(4);
    launcher.Exit(4000, SIGTERM);
    Advance(60s);
    EXPECT_EQ(launcher.launched.size(), 1u);
    auto stopped = recorded.Of(Kind::kComponentStopped);
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_EQ(stopped[0].signal, SIGTERM);

    // A stop while the restart waits for its delay.
    ASSERT_EQ(Start(4), suite::kStatusRunning);
    launcher.Exit(4001, kExitCode1);
    EXPECT_EQ(Stop(4), suite::kStatusOffLine);
    Advance(60s);
    EXPECT_EQ(launcher.launched.size(), 2u);
    EXPECT_THAT(log.Text(), HasSubstr("restart on failure withdrawn"));

    // A stop while what a failed component left behind is being ended.
    ASSERT_EQ(Start(4), suite::kStatusRunning);
    launcher.remaining.insert(4002);
    launcher.Exit(4002, kExitCode1);
    Stop(4);
    launcher.remaining.clear();
    Advance(60s);
    EXPECT_EQ(launcher.launched.size(), 3u);
    EXPECT_THAT(recorded.Of(Kind::kComponentRestarted), IsEmpty());
}

TEST_F(RestartTest, AdoptionsAndRefusedStartsAreRecorded) {
    std::string matrix = Install(4);
    records.stored = {{4, {900, 33}, matrix, "core-test:4:aa", std::nullopt}};
    launcher.verdicts = {{900, AdoptVerdict::kAdopted}};
    launcher.marked = {{{900, 33}, 1, "core-test:4:aa"}};
    MakeCore();
    auto adopted = recorded.Of(Kind::kComponentAdopted);
    ASSERT_EQ(adopted.size(), 1u);
    EXPECT_EQ(adopted[0].pid, 900);
    EXPECT_EQ(adopted[0].slot, 4);

    // An adopted process's exit status is unknown: said, not invented.
    clock.Advance(1500ms);
    launcher.Exit(900, -1);
    auto exited = recorded.Of(Kind::kComponentExited);
    ASSERT_EQ(exited.size(), 1u);
    EXPECT_FALSE(exited[0].exitCode || exited[0].signal);
    EXPECT_THAT(exited[0].detail, HasSubstr("exit status unknown"));
    EXPECT_EQ(exited[0].runTime, 1500ms);

    launcher.failLaunch = true;
    EXPECT_EQ(Start(4), suite::kStatusNotAvailable);
    EXPECT_EQ(Start(1), suite::kStatusNotRegistered);  // no program registered
    auto refused = recorded.Of(Kind::kComponentRefused);
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_THAT(refused[0].detail, HasSubstr("refused by the test"));
    EXPECT_EQ(refused[1].slot, 1);
    EXPECT_EQ(refused[1].detail, "class not registered");
}

TEST(ComponentRecordsText, RoundTripsAndRefusesAnotherBootOrBrokenLines) {
    std::vector<ComponentRecord> records = {
        {0, {1234, 98765}, "/opt/suite/Device Control.exe", "a1:0:ff", std::nullopt},
        {3, {0, 0}, "/opt/suite/Starting.exe", "a1:3:0e", std::nullopt},
        {15, {77, 1}, "/opt/suite/PanelKeysServer.exe", "a1:15:01", 3600123}};
    std::string text = FormatComponentRecords(records, "boot-a");
    EXPECT_EQ(ParseComponentRecords(text, "boot-a"), records);
    EXPECT_THAT(ParseComponentRecords(text, "boot-b"), IsEmpty());
    EXPECT_THAT(ParseComponentRecords(text, ""), IsEmpty());
    std::string damaged = text +
                          "3 notapid 5 m - /x\n4 -2 5 m - /x\n5 9 9 m -\n"
                          "7 0 0 - - /no-marker-no-process\n8 1 2 m soon /x\n6 10 11 - - /ok\n";
    auto parsed = ParseComponentRecords(damaged, "boot-a");
    ASSERT_EQ(parsed.size(), 4u);
    EXPECT_EQ(parsed[3], (ComponentRecord{6, {10, 11}, "/ok", "", std::nullopt}));
    // A line that cannot be one line is not written.
    EXPECT_EQ(FormatComponentRecords(
                  {{1, {2, 3}, "/a\nb", "", std::nullopt}, {1, {2, 3}, "/a", "m k", std::nullopt}},
                  "boot-a"),
              FormatComponentRecords({}, "boot-a"));
    // The earlier file, without markers, is still read.
    EXPECT_EQ(
        ParseComponentRecords("orvel-components 1\nboot boot-a\n2 40 50 /opt/a b\n", "boot-a"),
        (std::vector<ComponentRecord>{{2, {40, 50}, "/opt/a b", "", std::nullopt}}));

    ASSERT_TRUE(ParseMarker("a1:15:01", "a1"));
    EXPECT_EQ(ParseMarker("a1:15:01", "a1")->slot, 15);
    for (const char* other : {"a12:1:0", "a1:x:0", "a1:1:", "a1", "b1:1:0"}) {
        EXPECT_FALSE(ParseMarker(other, "a1")) << other;
    }
    EXPECT_FALSE(ParseMarker(":1:0", ""));
}

TEST(ProcStatLine, FieldsAreCountedFromTheLastParenthesis) {
    auto entry = ParseProcStat(
        "4242 (odd) name) (x) S 1 4240 4240 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 "
        "987654321 1000 200");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->pid, 4242);
    EXPECT_EQ(entry->state, 'S');
    EXPECT_EQ(entry->parent, 1);
    EXPECT_EQ(entry->group, 4240);
    EXPECT_EQ(entry->startTime, 987654321u);
    EXPECT_FALSE(ParseProcStat("4242 (short) S 1 2"));
    EXPECT_FALSE(ParseProcStat("garbage"));
    auto self = ReadProcEntry(getpid());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->parent, getppid());
}

TEST(ServerLogText, EachLineHasItsPriorityAndPeersControlCharactersAreEscaped) {
    // The first wording that matches decides; a line without one is Info.
    const std::pair<const char*, LogPriority> lines[] = {
        {"cannot listen on /run/orvel/suite-server.sock", LogPriority::Error},
        {"cannot listen on TCP port 47310; serving the local socket only", LogPriority::Warning},
        {"component: 0 (Device Control) process 42 did not end in time; killed",
         LogPriority::Warning},
        {"component: 0 (Device Control) started /x as process 42", LogPriority::Notice},
        {"connection: instance 7 created for unix:", LogPriority::Info}};
    for (const auto& [line, priority] : lines) EXPECT_EQ(PriorityOfLine(line), priority) << line;

    EXPECT_EQ(EscapeForLog("a\x1b[2Jb\nc\x7f"), "a\\x1b[2Jb\\x0ac\\x7f");
    EXPECT_EQ(EscapeForLog("\xc2\x9b"
                           "31m caf\xc3\xa9"),
              "\\u009b31m caf\xc3\xa9");
}

// Under the journal each line starts with its priority as "<N>"; on a
// terminal the line is plain. Line breaks inside a text never split a line.
TEST(ServerLogText, JournalLinesCarryTheirPriorityPrefix) {
    ::testing::internal::CaptureStderr();
    StderrLog journal(true);
    journal.Line("refused instance for unix:\nsecond line");
    journal.Entry(LogPriority::Error, "cannot listen");
    StderrLog terminal(false);
    terminal.Line("stopped");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "<4>refused instance for unix:\\x0asecond line\n<3>cannot listen\nstopped\n");
}

}  // namespace
}  // namespace orvel::suiteserver
