#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "FakeProcessTable.h"
#include "RunningProgram.h"
#include "TempDir.h"
#include "platform/SystemInfo.h"
#include "platform/linux/ProcProcessTable.h"
#include "processes/ProcessList.h"

namespace orvel::processes {
namespace {

namespace fs = std::filesystem;

status::ComponentServerTable Table() {
    status::ComponentServerTable table;
    status::FillComponentServerTable(table, "/opt/orvel/");  // slot 3 DeskMainServer.exe
    return table;
}

bool Has(const ProcessLines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// True when some line names process pid.
bool ListsPid(const ProcessLines& lines, pid_t pid) {
    const std::string prefix = NtProcessLine(pid, "");
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.starts_with(prefix); });
}

TEST(ProcessListTest, MatchesWholeFileNamesInBothLineFormatsAndChoosesByPlatform) {
    fakes::FakeProcessTable processes;
    processes.Add(8, "/opt/orvel/DeskMainServer.exe");
    processes.Add(1234, "/tmp/deskmainserver.EXE (deleted)", "deskmainserver.EXE");
    processes.Add(20, "/opt/DeskMainServer.exe.old/sleep");           // folder holds the name
    processes.Add(21, "/opt/orvel/MyDeskMainServer.exe");             // name within a longer name
    processes.Add(22, "/opt/orvel/NONE.EXE");                         // the unused slots' name
    processes.Add(23, std::nullopt, "/opt/orvel/JournalServer.exe");  // cannot be read
    processes.Add(24, "JournalServer.exe");
    const status::ComponentServerTable table = Table();

    struct Case {
        int platformId;
        ProcessLines expected;
    };
    const Case cases[] = {
        {platform::VER_PLATFORM_WIN32_NT,
         {" (008) DeskMainServer.exe", " (1234) DeskMainServer.exe", " (024) JournalServer.exe"}},
        {platform::VER_PLATFORM_WIN32_WINDOWS,
         {"DeskMainServer.exe", "DeskMainServer.exe", "JournalServer.exe", "JournalServer.exe"}},
        {0, {"Process Information Not Avaiable"}},
        {3, {"Process Information Not Avaiable"}},
    };
    for (const Case& c : cases) {
        ProcessLines lines{"left from the last refresh"};
        FillProcessList(c.platformId, lines, processes, table);
        EXPECT_EQ(lines, c.expected) << "platform " << c.platformId;
    }
    EXPECT_EQ(processes.enumerations, 1) << "only the NT method walks per process";
    EXPECT_EQ(processes.snapshots, 1);
}

using StandIn = fakes::RunningProgram;  // the component stand-in, running until it goes

class RealProcessesTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef ORVEL_DEMO_COMPONENT
        GTEST_SKIP() << "the demo component is not built";
#else
        fs::permissions(folder, fs::perms::all);
#endif
    }

    fs::path Install(const fs::path& relative) {
        const fs::path program = folder / relative;
        fs::create_directories(program.parent_path());
        fs::permissions(program.parent_path(), fs::perms::all);
#ifdef ORVEL_DEMO_COMPONENT
        fs::copy_file(ORVEL_DEMO_COMPONENT, program);
#endif
        return program;
    }

    fakes::TempDir temp{"orvel-processes"};
    fs::path folder = temp.path();
    status::ComponentServerTable table = Table();
};

TEST_F(RealProcessesTest, RunningComponentProgramsAreListedWithTheirIds) {
    StandIn desk(Install("DeskMainServer.exe"));
    StandIn journal(Install("JournalServer.exe"));
    StandIn prefixed(Install("MyDeskMainServer.exe"));
    StandIn inFolder(Install("JournalServer.exe.old/Helper"));
    StandIn unused(Install("None.exe"));
    ASSERT_GT(desk.pid(), 0);
    ASSERT_GT(unused.pid(), 0);

    platform::ProcProcessTable processes;
    ProcessLines lines;
    FillProcessList(platform::VER_PLATFORM_WIN32_NT, lines, processes, table);
    EXPECT_TRUE(Has(lines, NtProcessLine(desk.pid(), "DeskMainServer.exe")));
    EXPECT_TRUE(Has(lines, NtProcessLine(journal.pid(), "JournalServer.exe")));
    for (pid_t pid : {prefixed.pid(), inFolder.pid(), unused.pid(), getpid()}) {
        EXPECT_FALSE(ListsPid(lines, pid)) << "pid " << pid;
    }
}

// The walk as an unprivileged user lists its own stand-in but skips the one of
// another user (here root), whose executable it may not read.
TEST_F(RealProcessesTest, AnotherUsersProcessIsSkipped) {
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "switching to the user 'nobody' needs root and that user";
    }
    StandIn others(Install("DeskMainServer.exe"));
    ASSERT_GT(others.pid(), 0);
    const fs::path own = Install("JournalServer.exe");

    pid_t walker = fork();
    if (walker == 0) {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(10);
        int code = 0;
        {
            StandIn mine(own);
            platform::ProcProcessTable processes;
            ProcessLines lines;
            FillProcessListNT(lines, processes, table);
            if (!Has(lines, NtProcessLine(mine.pid(), "JournalServer.exe"))) code = 11;
            if (ListsPid(lines, others.pid())) code = 12;
        }
        _exit(code);
    }
    ASSERT_GT(walker, 0);
    int status = 0;
    ASSERT_EQ(waitpid(walker, &status, 0), walker);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10 user not switched, 11 own stand-in missing, 12 root's stand-in listed";
}

}  // namespace
}  // namespace orvel::processes
