#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "ChildAsNobody.h"
#include "RunningProgram.h"
#include "TempDir.h"
#include "platform/linux/ProcProcessTable.h"

namespace orvel::platform {
namespace {

namespace fs = std::filesystem;

using fakes::WriteFile;
using TempFolder = fakes::TempDir;

// A copy of sleep under a suite program's name, running until killed.
struct Sleeper : fakes::RunningProgram {
    explicit Sleeper(const fs::path& program) : RunningProgram(program, {"600"}) {}
};

bool Contains(const std::vector<pid_t>& pids, pid_t pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

const ProcessEntry* FindEntry(const std::vector<ProcessEntry>& entries, pid_t pid) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [pid](const ProcessEntry& e) { return e.pid == pid; });
    return it == entries.end() ? nullptr : &*it;
}

TEST(ProcProcessTableTest, FindsRunningCopyByWalkAndSnapshot) {
    TempFolder folder("orvel-proc-walk");
    const fs::path program = folder.path() / "DeskMainServer.exe";
    fs::copy_file("/bin/sleep", program);
    Sleeper sleeper(program);
    ASSERT_GT(sleeper.pid(), 0);

    ProcProcessTable table;
    const std::vector<pid_t> pids = table.EnumProcesses();
    EXPECT_TRUE(Contains(pids, sleeper.pid()));
    EXPECT_TRUE(Contains(pids, getpid()));
    EXPECT_EQ(table.GetModuleFileNameExA(sleeper.pid()), program.string());

    const std::vector<ProcessEntry> snapshot = table.Snapshot();
    const ProcessEntry* entry = FindEntry(snapshot, sleeper.pid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->exeFile, program.string());  // argv[0] as given, arguments cut off

    // A replaced executable keeps the kernel's mark; callers strip it.
    fs::remove(program);
    EXPECT_EQ(table.GetModuleFileNameExA(sleeper.pid()), program.string() + " (deleted)");
}

TEST(ProcProcessTableTest, ProcessesThatCannotBeReadGiveNothing) {
    ProcProcessTable table;
    // A pid beyond pid_max never exists.
    EXPECT_EQ(table.GetModuleFileNameExA(99999999), std::nullopt);
    EXPECT_EQ(table.GetModuleFileNameExA(0), std::nullopt);
    EXPECT_EQ(table.GetModuleFileNameExA(-5), std::nullopt);

    // A zombie has no executable any more but is still listed.
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_TRUE(Contains(table.EnumProcesses(), child));
    EXPECT_EQ(table.GetModuleFileNameExA(child), std::nullopt);
    waitpid(child, nullptr, 0);

    ProcProcessTable missing("/nonexistent-proc-root");
    EXPECT_TRUE(missing.EnumProcesses().empty());
    EXPECT_TRUE(missing.Snapshot().empty());
    EXPECT_EQ(missing.GetModuleFileNameExA(1), std::nullopt);
}

// A folder laid out like /proc: kernel threads, odd names, long links.
TEST(ProcProcessTableTest, ReadsNamesFromAProcLikeFolder) {
    TempFolder root("orvel-fake-proc");
    auto process = [&](const std::string& pid, std::string_view cmdline, std::string_view stat) {
        fs::create_directories(root.path() / pid);
        WriteFile(root.path() / pid / "cmdline", cmdline);
        WriteFile(root.path() / pid / "stat", stat);
        return root.path() / pid;
    };
    // A kernel thread: empty command line; its name holds blanks and ')'.
    process("2", "", "2 (kworker/0:1) x) S 0 0 0");
    // Arguments after the first NUL are cut; blanks inside the first word stay.
    std::string cmd("/opt/Corvane Network Suite/DeskMain.exe\0-x\0", 43);
    const fs::path desk = process("345", cmd, "345 (DeskMain.exe) S 1");
    // A command line without NUL (rewritten by the process) is taken whole.
    process("346", "RouterServer.exe --mode", "346 (x) S 1");
    // Not processes.
    process("self", "nope", "");
    process("0", "zero", "0 (zero) S 0");
    process("12ab", "mixed", "");
    fs::create_directories(root.path() / "sys");
    // A process whose files vanished between listing and reading.
    fs::create_directories(root.path() / "777");

    // A link target far longer than the first buffer is read whole.
    const std::string longTarget = "/" + std::string(700, 'a') + "/DeskMain.exe";
    fs::create_symlink(longTarget, desk / "exe");

    ProcProcessTable table(root.path().string());
    std::vector<pid_t> pids = table.EnumProcesses();
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<pid_t>{2, 345, 346, 777}));
    EXPECT_EQ(table.GetModuleFileNameExA(345), longTarget);
    EXPECT_EQ(table.GetModuleFileNameExA(2), std::nullopt);

    std::vector<ProcessEntry> snapshot = table.Snapshot();
    std::sort(snapshot.begin(), snapshot.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    ASSERT_EQ(snapshot.size(), 3u);
    EXPECT_EQ(snapshot[0].exeFile, "kworker/0:1) x");
    EXPECT_EQ(snapshot[1].exeFile, "/opt/Corvane Network Suite/DeskMain.exe");
    EXPECT_EQ(snapshot[2].exeFile, "RouterServer.exe --mode");
}

// The path a process was started by: only for the given user's processes; a
// script is found by the name the kernel gave the process, not by its interpreter.
TEST(ProcProcessTableTest, OwnCommandPathTakesTheScriptAndOnlyOurProcesses) {
    TempFolder root("orvel-fake-proc");
    auto process = [&](const std::string& pid, std::string_view cmdline, std::string_view comm,
                       unsigned uid) {
        fs::create_directories(root.path() / pid);
        WriteFile(root.path() / pid / "cmdline", cmdline);
        WriteFile(root.path() / pid / "comm", std::string(comm) + "\n");
        WriteFile(root.path() / pid / "status", "Name:\tx\nUmask:\t0022\nState:\tS\nUid:\t" +
                                                    std::to_string(uid) + "\t0\t0\t0\nGid:\t0\n");
    };
    using namespace std::string_literals;
    process("10", "/opt/o/DeskMainServer.exe\0-x\0"s, "DeskMainServer.", 500);
    process("11", "/bin/sh\0/opt/o/JournalServer.exe\0arg\0"s, "JournalServer.e", 500);
    process("12", "/usr/bin/python3\0-u\0/opt/o/Clock.py\0"s, "Clock.py", 500);
    process("13", "/bin/sh\0/opt/o/JournalServer.exe\0"s, "JournalServer.e", 501);
    process("14", "vi\0DeskMainServer.exe\0"s, "vi", 500);
    process("15", "", "kthread", 500);

    ProcProcessTable table(root.path().string(), 500);
    EXPECT_EQ(table.OwnCommandPath(10), "/opt/o/DeskMainServer.exe");
    EXPECT_EQ(table.OwnCommandPath(11), "/opt/o/JournalServer.exe");
    EXPECT_EQ(table.OwnCommandPath(12), "/opt/o/Clock.py");
    EXPECT_EQ(table.OwnCommandPath(13), std::nullopt);  // another user's
    EXPECT_EQ(table.OwnCommandPath(14), "vi");          // an argument is not the program
    EXPECT_EQ(table.OwnCommandPath(15), std::nullopt);
    EXPECT_EQ(table.OwnCommandPath(99), std::nullopt);  // gone
}

// The walk as an unprivileged user: another user's process is listed but its
// executable cannot be read, while its command line still can.
TEST(ProcProcessTableTest, AnotherUsersProcessIsListedButNotRead) {
    if (!fakes::CanSwitchUser()) GTEST_SKIP() << "needs root to run the walk as another user";

    TempFolder folder("orvel-proc-user");
    const fs::path program = folder.path() / "RouterServer.exe";
    fs::copy_file("/bin/sleep", program);
    fs::permissions(folder.path(), fs::perms::all);
    Sleeper sleeper(program);  // runs as root
    ASSERT_GT(sleeper.pid(), 0);

    const int verdict = fakes::ChildAsNobody([&] {
        ProcProcessTable table;
        if (!Contains(table.EnumProcesses(), sleeper.pid())) return 11;
        if (table.GetModuleFileNameExA(sleeper.pid()).has_value()) return 12;
        const std::vector<ProcessEntry> snapshot = table.Snapshot();
        const ProcessEntry* entry = FindEntry(snapshot, sleeper.pid());
        if (entry == nullptr || entry->exeFile != program.string()) return 14;
        return 0;
    });
    EXPECT_EQ(verdict, 0) << "90 user not switched, 11 not listed, 12 path read, "
                             "14 snapshot without it";
}

}  // namespace
}  // namespace orvel::platform
