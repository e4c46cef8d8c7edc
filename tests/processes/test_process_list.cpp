#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "ChildAsNobody.h"
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

// A process whose executable does not name a component (a link's target, a
// script's interpreter) or cannot be read (file capabilities) is listed for
// the slots whose program file it runs, in slot order, once per slot.
TEST(ProcessListTest, ProcessesRunningASlotsProgramFileAreListedWhenTheNameDoesNotMatch) {
    // pid, executable, snapshot name, program file it runs by identity
    fakes::FakeProcessTable processes;
    processes.processes = {
        {30, "/usr/lib/orvel/demo-component", "x", "/opt/orvel/DeskMainServer.exe"},  // link
        {31, "/usr/bin/dash", "x", "/opt/orvel//./JournalServer.exe"},                // script
        {32, std::nullopt, "x", "/opt/orvel/ClockSyncServer.exe"},  // capabilities
        {33, std::nullopt, "JournalServer.exe", std::nullopt},      // another user's server
        {34, "/usr/bin/dash", "x", std::nullopt},
        {35, "/opt/orvel/DeskMainServer.exe", "x", "/opt/orvel/DeskMainServer.exe"},  // one line
        {36, "/usr/bin/vi", "x", "/usr/bin/vi"},
        {37, "/usr/bin/dash", "x", "/srv/other/JournalServer.exe"},  // another folder's file
    };

    ProcessLines lines;
    FillProcessListNT(lines, processes, Table());
    EXPECT_EQ(lines, (ProcessLines{" (030) DeskMainServer.exe", " (031) JournalServer.exe",
                                   " (032) ClockSyncServer.exe", " (035) DeskMainServer.exe"}));
}

using StandIn = fakes::RunningProgram;  // a component stand-in, running until it goes

// The walk as an unprivileged user lists its own stand-in but skips the one of
// another user (here root), whose executable it may not read. Its own program
// with file capabilities, whose executable it may not read either, is listed.
TEST(RealProcessesTest, AnotherUsersProcessIsSkipped) {
    if (!fakes::CanSwitchUser()) GTEST_SKIP() << "switching to the user 'nobody' needs root";
    fakes::TempDir folder{"orvel-processes"};
    fs::permissions(folder.path(), fs::perms::all);
    auto install = [&](const char* name) {
        fs::copy_file(ORVEL_DEMO_COMPONENT, folder.path() / name);
        return folder.path() / name;
    };
    StandIn others(install("DeskMainServer.exe"));
    ASSERT_GT(others.pid(), 0);
    const fs::path own = install("JournalServer.exe");
    const fs::path capable = install("ClockSyncServer.exe");
    // Without the right to set them (a container) the program runs without.
    [[maybe_unused]] const bool setcap =
        std::system(
            ("setcap cap_net_bind_service+ep '" + capable.string() + "' 2>/dev/null").c_str()) == 0;

    const int verdict = fakes::ChildAsNobody([&] {
        StandIn mine(own);
        StandIn mineWithCapabilities(capable);
        platform::ProcProcessTable processes;
        ProcessLines lines;
        status::ComponentServerTable table;
        status::FillComponentServerTable(table, folder.path().string() + "/");
        FillProcessListNT(lines, processes, table);
        if (!Has(lines, NtProcessLine(mine.pid(), "JournalServer.exe"))) return 11;
        const std::string root = NtProcessLine(others.pid(), "");
        if (std::any_of(lines.begin(), lines.end(), [&](auto& l) { return l.starts_with(root); }))
            return 12;
        if (!Has(lines, NtProcessLine(mineWithCapabilities.pid(), "ClockSyncServer.exe")))
            return 13;
        return 0;
    });
    EXPECT_EQ(verdict, 0) << "90 user not switched, 11 own stand-in missing, 12 root's stand-in "
                             "listed, 13 own program with file capabilities missing";
}

// The real walk, as the user itself: a script component (the executable is
// the shell), a component whose registered file is a link to a program of
// another name, reached through a linked suite folder; another script of the
// same shell is not listed.
TEST(RealProcessesTest, ScriptsAndLinkedProgramsAreListedByTheirFile) {
    fakes::TempDir temp{"orvel-processes-identity"};
    const fs::path suite = temp.path() / "suite";
    fs::create_directories(suite);
    fs::create_directory_symlink(suite, temp.path() / "linked");
    const std::string loop = "#!/bin/sh\nwhile :; do sleep 1; done\n";
    for (const char* script : {"JournalServer.exe", "Other.sh"}) {
        fakes::WriteFile(suite / script, loop);
        fs::permissions(suite / script, fs::perms::owner_all);
    }
    fs::copy_file(ORVEL_DEMO_COMPONENT, temp.path() / "clock-program");
    fs::create_symlink(temp.path() / "clock-program", suite / "ClockSyncServer.exe");

    StandIn journal(temp.path() / "linked" / "JournalServer.exe");
    StandIn other(suite / "Other.sh");
    StandIn clock(suite / "ClockSyncServer.exe");
    ASSERT_GT(journal.pid(), 0);
    ASSERT_GT(clock.pid(), 0);
    status::ComponentServerTable table;
    status::FillComponentServerTable(table, (temp.path() / "linked").string() + "//");
    platform::ProcProcessTable processes;
    ProcessLines lines;
    FillProcessListNT(lines, processes, table);
    EXPECT_TRUE(Has(lines, NtProcessLine(journal.pid(), "JournalServer.exe")));
    EXPECT_TRUE(Has(lines, NtProcessLine(clock.pid(), "ClockSyncServer.exe")));
    const std::string otherLine = NtProcessLine(other.pid(), "");
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.starts_with(otherLine); }));
}

}  // namespace
}  // namespace orvel::processes
