// The real server killed at every step of a start and of a stop, and at
// random instants while a console starts, stops and connects: after each
// restart every slot runs at most one copy of its program, the status says
// whether it runs, and processes outside the installation are untouched.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include "CrashSupport.h"
#include "SuiteServerHarness.h"
#include "suite/ComponentCatalog.h"

namespace orvel::testing {
namespace {

using namespace std::chrono_literals;
using platform::HKEY_LOCAL_MACHINE;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kSlot = 4;      // the demo component
constexpr int kStubborn = 6;  // a script that ignores SIGTERM

// Calls wait long enough for a loaded machine: a call that fails is a fault.
std::unique_ptr<suiteclient::GrpcSuiteServerFactory> PatientFactory(SuiteServerHarness& harness) {
    return harness.MakeFactory(FreeTcpPort(), 10s);
}

std::shared_ptr<suiteclient::SuiteServer> Connect(SuiteServerHarness& harness,
                                                  suiteclient::GrpcSuiteServerFactory& factory) {
    auto created = factory.CreateLocal();
    EXPECT_TRUE(created) << harness.ServerLog();
    return created ? *created : nullptr;
}

// A server's installation with the two components and two decoys that run
// the demo component's program file: one started by hand, one with the
// marker of another installation.
struct Installation {
    Installation() {
        harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "StopGraceMs",
                         300);
        program = harness.InstallComponent(kSlot);
        stubborn = InstallStubbornScript(harness, kStubborn);
        factory = PatientFactory(harness);
        byHand = std::make_unique<Decoy>(program, "");
        foreign = std::make_unique<Decoy>(program, "ORVEL_COMPONENT_MARKER=0000000000000000:4:1");
    }
    // Running processes of the slot's program that are not decoys.
    std::size_t Copies(const std::string& path) {
        std::size_t copies = 0;
        for (pid_t pid : Running(path)) copies += pid != byHand->pid() && pid != foreign->pid();
        return copies;
    }
    // The status and the processes agree, and the slot runs as expected; the
    // decoys live. EndOrphan and a resumed stop act a moment after start-up.
    void Expect(const std::string& path, int slot, bool running, const std::string& when) {
        auto server = Connect(harness, *factory);
        ASSERT_TRUE(server) << when;
        std::size_t want = running ? 1 : 0;
        EXPECT_TRUE(WaitUntil([&] { return Copies(path) == want; }, 10s))
            << when << ": " << Copies(path) << " copies\n"
            << harness.ServerLog();
        // A running slot reads so at once. An ended one reads so once the
        // server has learnt of the end, a moment after /proc stops showing it.
        int status = 99;
        auto reads = [&](int want) {
            status = server->GetComponentStatus(static_cast<std::int16_t>(slot)).value_or(99);
            return status == want;
        };
        EXPECT_TRUE(running ? reads(1) : WaitUntil([&] { return reads(0); }, 10s))
            << when << ": status " << status << "\n"
            << harness.ServerLog();
        EXPECT_TRUE(byHand->Alive()) << when;
        EXPECT_TRUE(foreign->Alive()) << when;
    }

    SuiteServerHarness harness;
    std::string program;
    std::string stubborn;
    std::unique_ptr<suiteclient::GrpcSuiteServerFactory> factory;
    std::unique_ptr<Decoy> byHand;
    std::unique_ptr<Decoy> foreign;
};

TEST(ServerCrash, KilledAtEveryStepOfAStartOrAStopNeverRunsAComponentTwice) {
    struct Step {
        const char* name;
        bool runsAfter;  // what the restarted server finds
    };
    for (const Step& step :
         {Step{"start-intent", false}, Step{"start-spawned", true}, Step{"start-recorded", true}}) {
        Installation site;
        ASSERT_GT(site.byHand->pid(), 0);
        StartServerDyingAt(site.harness, step.name);
        auto server = Connect(site.harness, *site.factory);
        ASSERT_TRUE(server);
        server->StartComponent(kSlot);
        ASSERT_TRUE(ServerKilled(site.harness)) << step.name << site.harness.ServerLog();
        StartServerDyingAt(site.harness, "");
        site.Expect(site.program, kSlot, step.runsAfter, step.name);
        // A start now finds what runs: still one copy.
        auto again = Connect(site.harness, *site.factory);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->StartComponent(kSlot).value_or(99), 1);
        EXPECT_EQ(site.Copies(site.program), 1u) << step.name;
    }
    for (const char* step : {"stop-intent", "stop-signalled", "stop-killed", "stop-ended"}) {
        Installation site;
        StartServerDyingAt(site.harness, "");
        auto server = Connect(site.harness, *site.factory);
        ASSERT_TRUE(server);
        ASSERT_EQ(server->StartComponent(kStubborn).value_or(0), 1);
        ASSERT_EQ(site.Copies(site.stubborn), 1u);
        // The component outlives a killed server; the next one is to die mid-stop.
        kill(site.harness.serverPid, SIGKILL);
        ServerKilled(site.harness);
        StartServerDyingAt(site.harness, step);
        server = Connect(site.harness, *site.factory);
        ASSERT_TRUE(server);
        server->StopComponent(kStubborn);
        ASSERT_TRUE(ServerKilled(site.harness)) << step << site.harness.ServerLog();
        StartServerDyingAt(site.harness, "");
        site.Expect(site.stubborn, kStubborn, false, step);
        // Before its kill the restarted server finishes the stop; after it, nothing is left.
        if (std::string(step) == "stop-intent" || std::string(step) == "stop-signalled") {
            EXPECT_THAT(site.harness.ServerLog(), HasSubstr("the stop goes on")) << step;
        }
    }
}

// A registered path spelled otherwise than the kernel names the program: the
// components outlive a killed server and are adopted, not started twice.
TEST(ServerCrash, ComponentsRegisteredUnderOtherSpellingsAreAdoptedAfterARestart) {
    SuiteServerHarness harness;
    auto factory = PatientFactory(harness);
    namespace fs = std::filesystem;
    const std::string linked = harness.root + "/linked-suite";
    fs::create_directory_symlink(harness.suiteFolder, linked);
    struct Case {
        int slot;
        std::string program;  // as the kernel names it
    };
    std::vector<Case> cases;
    auto spell = [&](int slot, auto respell) {
        std::string program = harness.InstallComponent(slot);
        const auto& definition = suite::ComponentDefinitions()[static_cast<std::size_t>(slot)];
        harness.SetString(platform::HKEY_CLASSES_ROOT,
                          "CLSID\\" + std::string(definition.classId) + "\\LocalServer32", "",
                          respell(std::string(definition.exeName)));
        cases.push_back({slot, program});
    };
    spell(0, [&](const std::string& name) { return harness.suiteFolder + "//" + name; });
    spell(5, [&](const std::string& name) { return harness.suiteFolder + "/./" + name; });
    spell(8, [&](const std::string& name) { return linked + "/" + name; });
    cases.push_back({kStubborn, InstallStubbornScript(harness, kStubborn)});

    harness.StartServer();
    auto server = Connect(harness, *factory);
    ASSERT_TRUE(server);
    for (const auto& [slot, program] : cases) {
        ASSERT_EQ(server->StartComponent(static_cast<std::int16_t>(slot)).value_or(0), 1) << slot;
        ASSERT_EQ(Running(program).size(), 1u) << slot;
    }
    kill(harness.serverPid, SIGKILL);
    ASSERT_TRUE(ServerKilled(harness));
    harness.StartServer();
    server = Connect(harness, *factory);
    ASSERT_TRUE(server);
    for (const auto& [slot, program] : cases) {
        auto before = Running(program);
        EXPECT_EQ(server->GetComponentStatus(static_cast<std::int16_t>(slot)).value_or(99), 1)
            << slot << "\n"
            << harness.ServerLog();
        EXPECT_EQ(server->StartComponent(static_cast<std::int16_t>(slot)).value_or(99), 1);
        EXPECT_EQ(Running(program), before) << slot;
    }
    EXPECT_THAT(harness.ServerLog(), Not(HasSubstr("runs another program")));
}

// An upgrade: the server killed while its records lay in the socket folder,
// restarted by a server that keeps them in the user's runtime folder. The
// running component is adopted, the stop in progress goes on to its end.
TEST(ServerCrash, RecordsMovedToTheRuntimeFolderKeepRunningComponentsAndStops) {
    namespace fs = std::filesystem;
    Installation site;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = saved != nullptr ? saved : "";
    unsetenv("XDG_RUNTIME_DIR");
    StartServerDyingAt(site.harness, "");
    auto server = Connect(site.harness, *site.factory);
    ASSERT_TRUE(server);
    ASSERT_EQ(server->StartComponent(kSlot).value_or(0), 1);
    ASSERT_EQ(server->StartComponent(kStubborn).value_or(0), 1);
    server->StopComponent(kStubborn);  // ignores SIGTERM: still ending
    const std::string former = site.harness.root + "/run/components.state";
    ASSERT_TRUE(fs::exists(former));
    kill(site.harness.serverPid, SIGKILL);
    ASSERT_TRUE(ServerKilled(site.harness));

    const std::string runtime = site.harness.root + "/runtime";
    fs::create_directory(runtime);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    StartServerDyingAt(site.harness, "");
    if (saved != nullptr) {
        setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    } else {
        unsetenv("XDG_RUNTIME_DIR");
    }
    EXPECT_FALSE(fs::exists(former));
    std::size_t files = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(runtime + "/orvel", error)) {
        files += entry.path().extension() == ".state";
    }
    EXPECT_EQ(files, 1u) << site.harness.ServerLog();
    site.Expect(site.program, kSlot, true, "moved records");
    site.Expect(site.stubborn, kStubborn, false, "moved stop");
    EXPECT_THAT(site.harness.ServerLog(), HasSubstr("component records moved from " + former));
}

// Kills at random instants while a connected console connects, starts and
// stops; after every restart no slot runs twice and no copy runs that the
// server does not own (it ends or adopts each). ORVEL_CHAOS_KILLS lowers the
// count (the sanitizer build).
TEST(ServerCrash, RandomKillsDuringStartsStopsAndConnectsLeaveNoDuplicateOrOrphan) {
    int kills = 200;
    if (const char* text = std::getenv("ORVEL_CHAOS_KILLS")) kills = std::atoi(text);
    Installation site;
    const std::vector<std::pair<int, std::string>> slots = {{kSlot, site.program},
                                                            {kStubborn, site.stubborn}};
    std::mt19937 random(std::random_device{}());
    StartServerDyingAt(site.harness, "");
    int duplicates = 0;
    int orphans = 0;
    int running = 0;
    for (int round = 0; round < kills; ++round) {
        const pid_t victim = site.harness.serverPid;
        const auto delay = std::chrono::microseconds(random() % 60000);
        std::thread killer([victim, delay] {
            std::this_thread::sleep_for(delay);
            kill(victim, SIGKILL);
        });
        // The console: connect, register, start or stop each slot at random.
        for (int call = 0; call < 4; ++call) {
            auto server = site.factory->CreateLocal();
            if (!server) break;
            (*server)->ConnectClient("ClientName");
            for (const auto& [slot, path] : slots) {
                if (random() % 2) {
                    (*server)->StartComponent(static_cast<std::int16_t>(slot));
                } else {
                    (*server)->StopComponent(static_cast<std::int16_t>(slot));
                }
            }
        }
        killer.join();
        ASSERT_TRUE(ServerKilled(site.harness));
        StartServerDyingAt(site.harness, "");
        auto server = Connect(site.harness, *site.factory);
        ASSERT_TRUE(server) << "round " << round;
        for (const auto& [slot, path] : slots) {
            // A stop resumed by the restarted server ends its component within the grace.
            std::size_t copies = 0;
            int status = 99;
            WaitUntil(
                [&] {
                    copies = site.Copies(path);
                    status =
                        server->GetComponentStatus(static_cast<std::int16_t>(slot)).value_or(99);
                    return copies == (status == 1 ? 1u : 0u);
                },
                10s);
            duplicates += copies > 1;
            orphans += status != 1 && copies > 0;
            running += status == 1;
            EXPECT_LE(copies, 1u) << "round " << round << " slot " << slot;
            EXPECT_EQ(copies, status == 1 ? 1u : 0u) << "round " << round << " slot " << slot;
        }
        if (::testing::Test::HasFailure()) break;
    }
    std::printf("chaos: %d kills, %d duplicates, %d orphans, %d slot checks running\n", kills,
                duplicates, orphans, running);
    EXPECT_TRUE(site.byHand->Alive());
    EXPECT_TRUE(site.foreign->Alive());
    site.harness.StopServer();
    EXPECT_EQ(site.Copies(site.program) + site.Copies(site.stubborn), 0u);
}

}  // namespace
}  // namespace orvel::testing
