#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "RunningProgram.h"
#include "TempDir.h"
#include "platform/linux/ProcProcessTable.h"

namespace orvel::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

bool Contains(const std::vector<pid_t>& pids, pid_t pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

// The first word of the command line the snapshot gives for pid, or "<none>".
std::string SnapshotName(ProcessTable& table, pid_t pid) {
    for (const ProcessEntry& entry : table.Snapshot()) {
        if (entry.pid == pid) return entry.exeFile;
    }
    return "<none>";
}

TEST(ProcProcessTableTest, FindsRunningCopyByWalkAndSnapshot) {
    fakes::TempDir folder("orvel-proc-walk");
    const fs::path program = folder.path() / "DeskMainServer.exe";
    fs::copy_file("/bin/sleep", program);
    fakes::RunningProgram sleeper(program, {"600"});
    ASSERT_GT(sleeper.pid(), 0);

    ProcProcessTable table;
    const std::vector<pid_t> pids = table.EnumProcesses();
    EXPECT_TRUE(Contains(pids, sleeper.pid()));
    EXPECT_TRUE(Contains(pids, getpid()));
    EXPECT_EQ(table.GetModuleFileNameExA(sleeper.pid()), program.string());
    EXPECT_EQ(SnapshotName(table, sleeper.pid()), program.string()) << "arguments cut off";

    // A replaced executable keeps the kernel's mark; callers strip it.
    fs::remove(program);
    EXPECT_EQ(table.GetModuleFileNameExA(sleeper.pid()), program.string() + " (deleted)");

    // Nothing for a pid beyond pid_max, nor for a zombie, which is still listed.
    for (pid_t none : {99999999, 0, -5}) EXPECT_EQ(table.GetModuleFileNameExA(none), std::nullopt);
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_TRUE(Contains(table.EnumProcesses(), child));
    EXPECT_EQ(table.GetModuleFileNameExA(child), std::nullopt);
    waitpid(child, nullptr, 0);
}

// A folder laid out like /proc: kernel threads, odd names, long links, scripts,
// another user's processes, entries that are not processes.
class ProcLikeFolderTest : public ::testing::Test {
  protected:
    fs::path Process(const std::string& pid, std::string_view cmdline, std::string_view stat,
                     std::string_view comm = "x", unsigned uid = 500) {
        const fs::path folder = root_.path() / pid;
        fs::create_directories(folder);
        fakes::WriteFile(folder / "cmdline", cmdline);
        fakes::WriteFile(folder / "stat", stat);
        fakes::WriteFile(folder / "comm", std::string(comm) + "\n");
        fakes::WriteFile(folder / "status", "Name:\tx\nUmask:\t0022\nState:\tS\nUid:\t" +
                                                std::to_string(uid) + "\t0\t0\t0\nGid:\t0\n");
        return folder;
    }
    fakes::TempDir root_{"orvel-fake-proc"};
};

TEST_F(ProcLikeFolderTest, ReadsNamesAndLinks) {
    // A kernel thread: empty command line; its name holds blanks and ')'.
    Process("2", "", "2 (kworker/0:1) x) S 0 0 0");
    // Arguments after the first NUL are cut; blanks inside the first word stay.
    const fs::path desk =
        Process("345", "/opt/Corvane Network Suite/DeskMain.exe\0-x\0"s, "345 (DeskMain.exe) S 1");
    // A command line without NUL (rewritten by the process) is taken whole.
    Process("346", "RouterServer.exe --mode", "346 (x) S 1");
    for (const char* notProcess : {"self", "0", "12ab"}) Process(notProcess, "x", "0 (x) S 0");
    fs::create_directories(root_.path() / "sys");
    // A process whose files vanished between listing and reading.
    fs::create_directories(root_.path() / "777");
    // A link target far longer than the first buffer is read whole.
    const std::string longTarget = "/" + std::string(700, 'a') + "/DeskMain.exe";
    fs::create_symlink(longTarget, desk / "exe");

    ProcProcessTable table(root_.path().string());
    std::vector<pid_t> pids = table.EnumProcesses();
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<pid_t>{2, 345, 346, 777}));
    EXPECT_EQ(table.GetModuleFileNameExA(345), longTarget);
    // No readable exe (a kernel thread, another user's process): no path, yet
    // listed and named in the snapshot all the same.
    EXPECT_EQ(table.GetModuleFileNameExA(2), std::nullopt);
    EXPECT_EQ(table.GetModuleFileNameExA(346), std::nullopt);
    EXPECT_EQ(table.Snapshot().size(), 3u);
    EXPECT_EQ(SnapshotName(table, 2), "kworker/0:1) x");
    EXPECT_EQ(SnapshotName(table, 345), "/opt/Corvane Network Suite/DeskMain.exe");
    EXPECT_EQ(SnapshotName(table, 346), "RouterServer.exe --mode");

    ProcProcessTable missing("/nonexistent-proc-root");
    EXPECT_TRUE(missing.EnumProcesses().empty());
    EXPECT_TRUE(missing.Snapshot().empty());
    EXPECT_EQ(missing.GetModuleFileNameExA(1), std::nullopt);
}

// The path a process was started by: only for the given user's processes; a
// script is found by the name the kernel gave the process, not by its interpreter.
TEST_F(ProcLikeFolderTest, OwnCommandPathTakesTheScriptAndOnlyOurProcesses) {
    Process("10", "/opt/o/DeskMainServer.exe\0-x\0"s, "", "DeskMainServer.");
    Process("11", "/bin/sh\0/opt/o/JournalServer.exe\0arg\0"s, "", "JournalServer.e");
    Process("12", "/usr/bin/python3\0-u\0/opt/o/Clock.py\0"s, "", "Clock.py");
    Process("13", "/bin/sh\0/opt/o/JournalServer.exe\0"s, "", "JournalServer.e", 501);
    Process("14", "vi\0DeskMainServer.exe\0"s, "", "vi");
    Process("15", "", "", "kthread");

    ProcProcessTable table(root_.path().string(), 500);
    EXPECT_EQ(table.OwnCommandPath(10), "/opt/o/DeskMainServer.exe");
    EXPECT_EQ(table.OwnCommandPath(11), "/opt/o/JournalServer.exe");
    EXPECT_EQ(table.OwnCommandPath(12), "/opt/o/Clock.py");
    EXPECT_EQ(table.OwnCommandPath(13), std::nullopt);  // another user's
    EXPECT_EQ(table.OwnCommandPath(14), "vi");          // an argument is not the program
    EXPECT_EQ(table.OwnCommandPath(15), std::nullopt);
    EXPECT_EQ(table.OwnCommandPath(99), std::nullopt);  // gone
    EXPECT_EQ(table.ProcessName(11), "JournalServer.e");
}

}  // namespace
}  // namespace orvel::platform
