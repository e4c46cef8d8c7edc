// The real server while an unprivileged process forks and reaps short-lived
// processes as fast as it can: processes vanish under every look the server
// takes at /proc (housekeeping, stops, adoption). The server stays up, every
// stop reaches its component with SIGTERM, and every call is answered.
// ORVEL_CHURN_SECONDS sets the duration (60 s by default).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ChildAsNobody.h"
#include "CrashSupport.h"
#include "SuiteServerHarness.h"
#include "platform/linux/ProcFs.h"

namespace orvel::testing {
namespace {

using namespace std::chrono_literals;

// The last lines of a long log: a failure's message must not be cut.
std::string Tail(const std::string& text, std::size_t lines = 40) {
    std::size_t at = text.size();
    while (lines-- > 0 && at > 0) {
        at = text.rfind('\n', at - 1);
        if (at == std::string::npos) return text;
    }
    return "...\n" + text.substr(at + 1);
}

// A process told apart from a later one with its id: as root kill(pid, 0)
// also answers for the stranger that got the number (the churn makes
// process ids wrap).
struct Identity {
    pid_t pid = 0;
    std::uint64_t startTime = 0;
};

Identity IdentityOf(pid_t pid) {
    auto stat = platform::ProcFs().Stat(pid);
    return {pid, stat ? stat->startTime : 0};
}

bool Ended(const Identity& process) {
    auto stat = platform::ProcFs().Stat(process.pid);
    return !stat || stat->startTime != process.startTime || stat->state == 'Z' ||
           stat->state == 'X';
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

TEST(ServerChurn, ProcessesVanishingUnderEveryLookNeverCostTheServerOrAStop) {
    int seconds = 60;
    if (const char* text = std::getenv("ORVEL_CHURN_SECONDS")) seconds = std::atoi(text);
    const auto duration = std::chrono::seconds(seconds);

    SuiteServerHarness harness;
    const std::string program = harness.InstallComponent(4);
    harness.StartServer();
    // Calls wait long enough for a loaded machine: a call that fails is a fault.
    auto factory = harness.MakeFactory(FreeTcpPort(), 10s);
    auto created = factory->CreateLocal();
    ASSERT_TRUE(created) << harness.ServerLog();
    auto server = *created;

    // The churn: a process of another user (when the test may switch) that
    // only forks and reaps, until the time is up.
    const auto end = std::chrono::steady_clock::now() + duration;
    std::atomic<int> churnResult{-2};
    std::thread churn([&] {
        churnResult = fakes::ChildAsNobody([end] {
            while (std::chrono::steady_clock::now() < end) {
                pid_t child = fork();
                if (child == 0) _exit(0);
                if (child > 0) waitpid(child, nullptr, 0);
            }
            return 0;
        });
    });

    int stops = 0;
    int failedCalls = 0;
    while (std::chrono::steady_clock::now() < end) {
        failedCalls += !server->GetClientCount();
        auto started = server->StartComponent(4);
        failedCalls += !started;
        if (started.value_or(0) != 1) continue;
        std::vector<Identity> copies;
        for (pid_t pid : Running(program)) copies.push_back(IdentityOf(pid));
        auto stopped = server->StopComponent(4);
        failedCalls += !stopped;
        ++stops;
        // The demo component ends on SIGTERM: its end shows the stop sent it.
        EXPECT_TRUE(WaitUntil([&] { return server->GetComponentStatus(4).value_or(99) == 0; }, 10s))
            << "stop " << stops << "\n"
            << Tail(harness.ServerLog());
        for (const Identity& copy : copies) {
            EXPECT_TRUE(WaitUntil([&] { return Ended(copy); }, 10s))
                << "stop " << stops << ": process " << copy.pid << " lives on\n"
                << Tail(harness.ServerLog());
        }
        if (::testing::Test::HasFailure()) break;
    }
    churn.join();
    EXPECT_EQ(churnResult, 0);
    EXPECT_EQ(failedCalls, 0);
    EXPECT_GT(stops, 0);
    EXPECT_EQ(waitpid(harness.serverPid, nullptr, WNOHANG), 0) << "the server ended";
    const std::string log = harness.ServerLog();
    EXPECT_EQ(Count(log, "asked to end (process"), static_cast<std::size_t>(stops)) << Tail(log);
    for (const char* fault :
         {"did not end in time", "left processes behind", "UNKNOWN", "failed"}) {
        auto at = log.find(fault);
        EXPECT_EQ(at, std::string::npos)
            << fault
            << " in: " << Tail(log.substr(0, log.find('\n', at == std::string::npos ? 0 : at)));
    }
    std::printf("churn: %d s, %d starts and stops\n", seconds, stops);
}

}  // namespace
}  // namespace orvel::testing
