// The suite server as a service: the priorities of its log lines and the
// --status report a script reads.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "SuiteServerHarness.h"
#include "suiteserver/ServerLog.h"

namespace orvel::testing {
namespace {

using suiteserver::LogPriority;
using suiteserver::PriorityOfLine;
using ::testing::HasSubstr;

TEST(ServerLogPriorities, FailuresRefusalsStartsAndConnectionsEachHaveTheirLevel) {
    EXPECT_EQ(PriorityOfLine("cannot listen on /run/orvel/suite-server.sock"), LogPriority::Error);
    EXPECT_EQ(PriorityOfLine("another Orvel_Server already serves /run/orvel/s.sock"),
              LogPriority::Error);
    EXPECT_EQ(PriorityOfLine("registry store problem: damaged"), LogPriority::Error);
    EXPECT_EQ(PriorityOfLine("cannot listen on TCP port 47310; serving the local socket only"),
              LogPriority::Warning);
    EXPECT_EQ(PriorityOfLine("refused instance for unix:: 64 instances exist"),
              LogPriority::Warning);
    EXPECT_EQ(PriorityOfLine("component: 2 (Fault Status) not started: x is missing"),
              LogPriority::Warning);
    EXPECT_EQ(PriorityOfLine("component: 0 (Device Control) process 42 did not end in time; "
                             "killed"),
              LogPriority::Warning);
    EXPECT_EQ(PriorityOfLine("component: 0 (Device Control) started /x as process 42"),
              LogPriority::Notice);
    EXPECT_EQ(PriorityOfLine("serving /run/orvel/suite-server.sock"), LogPriority::Notice);
    EXPECT_EQ(PriorityOfLine("stopped"), LogPriority::Notice);
    EXPECT_EQ(PriorityOfLine("connection: instance 7 created for unix:"), LogPriority::Info);
    EXPECT_EQ(PriorityOfLine("registration: instance 7 of unix: withdrawn; 0 clients"),
              LogPriority::Info);
}

// Under the journal each line starts with its priority as "<N>"; on a
// terminal the line is plain. Line breaks inside a text never split a line.
TEST(ServerLogPriorities, JournalLinesCarryTheirPriorityPrefix) {
    char path[] = "/tmp/orvel-log-XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    const int savedStderr = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    suiteserver::StderrLog journal(true);
    journal.Line("refused instance for unix:\nsecond line");
    journal.Entry(LogPriority::Error, "cannot listen");
    suiteserver::StderrLog terminal(false);
    terminal.Line("stopped");
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    close(file);
    std::ostringstream written;
    written << std::ifstream(path).rdbuf();
    std::remove(path);
    EXPECT_EQ(written.str(),
              "<4>refused instance for unix:\\x0asecond line\n<3>cannot listen\nstopped\n");
}

TEST(ServerStatusCommand, ReportsSlotsClientsActiveSetAndTcpWithScriptableExitStatus) {
    SuiteServerHarness harness;
    int exitCode = -1;
    harness.RunProgram({"Orvel_Server", "--status"}, &exitCode);
    EXPECT_EQ(exitCode, 3) << "no server runs";

    harness.InstallComponent(0);
    harness.SetString(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Corvane", "ActiveSet",
                      "Studio B");
    harness.StartServer();
    auto server = harness.Factory().CreateLocal();
    ASSERT_TRUE(server);
    ASSERT_EQ((*server)->ConnectClient("Console A").value_or(0), 1);
    ASSERT_EQ((*server)->StartComponent(0).value_or(0), 1);

    const std::string report = harness.RunProgram({"Orvel_Server", "--status"}, &exitCode);
    EXPECT_EQ(exitCode, 0) << harness.ServerLog();
    EXPECT_THAT(report, HasSubstr("Clients:    1\n"));
    EXPECT_THAT(report, HasSubstr("Active set: \"Studio B\"\n"));
    EXPECT_THAT(report, HasSubstr("TCP:        not served (remote use not enabled)\n"));
    EXPECT_THAT(report, ::testing::ContainsRegex(" 0  Device Control +running\n"));
    EXPECT_THAT(report, ::testing::ContainsRegex(" 1  [^\n]+ +not registered\n"));
    EXPECT_THAT(report, ::testing::ContainsRegex("19  Unused +unused\n"));
}

}  // namespace
}  // namespace orvel::testing
