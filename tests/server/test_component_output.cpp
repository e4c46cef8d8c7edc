// Components' output: the log pipe's bounded file on its own, and the real
// server routing a component's output to its log so that it keeps flowing
// after the server is killed, also once a new server adopted the component.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "CrashSupport.h"
#include "SuiteServerHarness.h"
#include "TempDir.h"
#include "platform/FileReplace.h"
#include "platform/Registry.h"
#include "platform/linux/ComponentOutput.h"
#include "suite/ComponentCatalog.h"

namespace orvel::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

std::uintmax_t SizeOf(const std::string& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

TEST(ComponentOutput, LogNamesKeepOnlySafeCharacters) {
    using platform::ComponentLogName;
    EXPECT_EQ(ComponentLogName("Matrix Control"), "orvel-Matrix-Control");
    EXPECT_EQ(ComponentLogName("a  /b\n$c.d_e-f"), "orvel-a-b-c.d_e-f");
    EXPECT_EQ(ComponentLogName("\xc3\xa9t\xc3\xa9"), "orvel--t-");
    EXPECT_EQ(ComponentLogName(std::string(200, 'x')).size(), 64u);
}

// A writer far faster and longer than the bound: the file and its one older
// generation stay within it, and the newest lines are kept whole.
TEST(ComponentOutput, TheLogPipeRotatesAtItsBoundAndKeepsTheNewestLines) {
    fakes::TempDir folder{"orvel-logpipe"};
    const std::string path = folder.str("component.log");
    constexpr std::uint64_t kBound = std::uint64_t{256} * 1024;
    // The log pipe reads at most this much at once and moves the file away
    // before a read that would pass the bound, so the older generation holds
    // at least the bound less one read, however the writer and reader interleave.
    constexpr std::uint64_t kOneRead = std::uint64_t{64} * 1024;
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([&] {
        for (int line = 0; line < 80000; ++line) {
            platform::WriteAll(ends[1], "line " + std::to_string(line) + "\n");
        }
        close(ends[1]);
    });
    EXPECT_EQ(platform::RunLogPipe(ends[0], path, kBound), 0);
    writer.join();
    close(ends[0]);
    EXPECT_LE(SizeOf(path), kBound);
    EXPECT_LE(SizeOf(path + ".1"), kBound);
    EXPECT_GT(SizeOf(path + ".1"), kBound - kOneRead);
    std::string text = fakes::ReadFile(path);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_THAT(text, HasSubstr("line 79999\n"));
    EXPECT_FALSE(std::filesystem::exists(path + ".2"));

    // A file another log pipe moved away is followed, not written on unseen.
    int again[2];
    ASSERT_EQ(pipe(again), 0);
    std::filesystem::rename(path, path + ".moved");
    platform::WriteAll(again[1], "after the move\n");
    close(again[1]);
    EXPECT_EQ(platform::RunLogPipe(again[0], path, kBound), 0);
    close(again[0]);
    EXPECT_EQ(fakes::ReadFile(path), "after the move\n");
}

constexpr int kSlot = 4;  // "Matrix Control"

// The slot's program: a script that says one numbered line every 50 ms, for a minute at most.
std::string InstallTalkingScript(SuiteServerHarness& harness) {
    std::string program = harness.InstallComponent(kSlot);
    std::ofstream(program, std::ios::trunc) << "#!/bin/sh\n"
                                            << "i=0\n"
                                            << "while [ $i -lt 1200 ]; do\n"
                                            << "  echo \"tick $i\"; i=$((i+1)); sleep 0.05\n"
                                            << "done\n";
    chmod(program.c_str(), 0755);
    return program;
}

TEST(ComponentOutput, OutputOfAComponentAdoptedAfterAServerCrashStillReachesItsLog) {
    SuiteServerHarness harness;
    InstallTalkingScript(harness);
    const std::string log = harness.root + "/component-logs/orvel-Matrix-Control.log";
    StartServerDyingAt(harness, "");
    auto factory = harness.MakeFactory(FreeTcpPort(), 10s);
    {
        auto server = factory->CreateLocal();
        ASSERT_TRUE(server) << harness.ServerLog();
        ASSERT_EQ((*server)->StartComponent(kSlot).value_or(0), 1) << harness.ServerLog();
    }
    ASSERT_TRUE(
        WaitUntil([&] { return fakes::ReadFile(log).find("tick 1\n") != std::string::npos; }, 20s))
        << fakes::ReadFile(log) << harness.ServerLog();
    EXPECT_THAT(fakes::ReadFile(log), ::testing::ContainsRegex("slot 4 pid [0-9]+: "));
    EXPECT_THAT(harness.ServerLog(), HasSubstr("components' output goes to log files in"));

    // The server dies; the component's lines keep coming without it.
    kill(harness.serverPid, SIGKILL);
    ASSERT_TRUE(ServerKilled(harness));
    const auto atCrash = SizeOf(log);
    EXPECT_TRUE(WaitUntil([&] { return SizeOf(log) > atCrash; }, 20s))
        << "no output after the crash";

    // A new server adopts it; its lines still reach the same log.
    StartServerDyingAt(harness, "");
    auto server = factory->CreateLocal();
    ASSERT_TRUE(server) << harness.ServerLog();
    EXPECT_EQ((*server)->GetComponentStatus(kSlot).value_or(0), 1) << harness.ServerLog();
    EXPECT_THAT(harness.ServerLog(), HasSubstr("adopted"));
    const auto atAdoption = SizeOf(log);
    EXPECT_TRUE(WaitUntil([&] { return SizeOf(log) > atAdoption; }, 20s))
        << "no output after the adoption";
    (*server)->StopComponent(kSlot);
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// As an operator would see it: a component that fails soon after each start,
// with restart on, runs again and again, each run's lines in the same log
// after its own "slot K pid P" line, until a console stops it.
TEST(ComponentOutput, ARestartedComponentRunsAgainAndKeepsItsLog) {
    SuiteServerHarness harness;
    std::string program = harness.InstallComponent(kSlot);
    std::ofstream(program, std::ios::trunc) << "#!/bin/sh\necho \"run $$\"\nsleep 0.2\nexit 3\n";
    chmod(program.c_str(), 0755);
    const auto& definition = suite::ComponentDefinitions()[kSlot];
    harness.SetDword(platform::HKEY_CLASSES_ROOT,
                     "CLSID\\" + std::string(definition.classId) + "\\LocalServer32",
                     "RestartOnFailure", 1);
    const std::string log = harness.root + "/component-logs/orvel-Matrix-Control.log";
    harness.StartServer();
    auto factory = harness.MakeFactory(FreeTcpPort(), 10s);
    auto server = factory->CreateLocal();
    ASSERT_TRUE(server) << harness.ServerLog();
    ASSERT_EQ((*server)->StartComponent(kSlot).value_or(0), 1) << harness.ServerLog();
    EXPECT_TRUE(WaitUntil([&] { return Count(fakes::ReadFile(log), "run ") >= 3; }, 60s))
        << fakes::ReadFile(log) << harness.ServerLog();
    (*server)->StopComponent(kSlot);
    const std::string text = fakes::ReadFile(log);
    EXPECT_GE(Count(text, "slot 4 pid "), 3u) << text;
    EXPECT_THAT(harness.ServerLog(), HasSubstr("restarted on failure (restart 2 of 5"));
    EXPECT_THAT(harness.ServerLog(), HasSubstr("ended (exit code 3)"));
}

// Needs a journal this test may read: skipped where there is none (a
// container, a build machine without systemd).
TEST(ComponentOutput, TheJournalRoadCarriesTheComponentsName) {
    if (access(std::string(platform::kJournalStreamSocket).c_str(), W_OK) != 0 ||
        access("/usr/bin/journalctl", X_OK) != 0) {
        GTEST_SKIP() << "no journal stream socket here";
    }
    const std::string name = "output test " + std::to_string(getpid());
    const std::string identifier = platform::ComponentLogName(name);
    {
        platform::JournalOutput journal;
        platform::OutputStream stream = journal.Open(kSlot, name);
        if (!stream.fd) GTEST_SKIP() << stream.problem;
        ASSERT_TRUE(platform::WriteAll(stream.fd.get(), "hello from the output test\n"));
    }
    const std::string command = "journalctl -q -o cat -t '" + identifier + "' 2>/dev/null";
    auto journalHas = [&] {
        std::string text;
        if (FILE* reader = popen(command.c_str(), "r"); reader != nullptr) {
            char buffer[4096];
            for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, reader)) > 0;) {
                text.append(buffer, got);
            }
            pclose(reader);
        }
        return text.find("hello from the output test") != std::string::npos;
    };
    if (!WaitUntil(journalHas, 20s)) GTEST_SKIP() << "the journal cannot be read by this user";
}

}  // namespace
}  // namespace orvel::testing
