#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "RunningProgram.h"
#include "TempDir.h"
#include "platform/UniqueFd.h"
#include "platform/linux/ProcFs.h"
#include "platform/linux/ProcProcessTable.h"
#include "platform/linux/ProgramIdentity.h"

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
    Process("2", "", "2 (kworker/0:1) x) S 0 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 15 0 0");
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

// A stat line with the given name, state, parent, group and start time.
std::string StatLine(const std::string& pid, const std::string& comm, char state, int parent,
                     int group, unsigned long start) {
    return pid + " (" + comm + ") " + state + " " + std::to_string(parent) + " " +
           std::to_string(group) + " " + std::to_string(group) +
           " 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 " + std::to_string(start) + " 1000 200\n";
}

// Fields, words, users and the environment; a process that vanishes between
// the listing and the read, and a root that vanishes, are answers.
TEST_F(ProcLikeFolderTest, ReaderAnswersWhatIsThereAndNothingForWhatIsGone) {
    const uid_t me = getuid();
    const fs::path ours = Process("40", "/opt/o/Desk.exe\0-x\0y\0"s,
                                  StatLine("40", "De) (sk", 'S', 1, 40, 777), "De) (sk", me);
    fakes::WriteFile(ours / "environ", "PATH=/bin\0ORVEL_MARK=a:3:ff\0ORVEL=x\0"s);
    fs::create_directories(ours / "task" / "40");
    fs::create_directories(ours / "task" / "41");
    fakes::WriteFile(ours / "task" / "40" / "children", "43 44 ");
    fakes::WriteFile(ours / "task" / "41" / "children", "45");
    const fs::path others = Process("42", "x\0"s, StatLine("42", "x", 'Z', 40, 40, 9), "x", me + 1);
    fakes::WriteFile(others / "environ", "ORVEL_MARK=a:3:ff\0"s);

    const ProcFs proc(root_.path().string());
    const auto stat = proc.Stat(40);
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->comm, "De) (sk");
    EXPECT_EQ(stat->state, 'S');
    EXPECT_EQ(stat->parent, 1);
    EXPECT_EQ(stat->group, 40);
    EXPECT_EQ(stat->startTime, 777u);
    EXPECT_EQ(proc.Stat(42)->state, 'Z');
    EXPECT_EQ(proc.AllStats().size(), 2u);
    EXPECT_EQ(proc.CommandLine(40), (std::vector<std::string>{"/opt/o/Desk.exe", "-x", "y"}));
    EXPECT_EQ(proc.CommandLine(40, 1), (std::vector<std::string>{"/opt/o/Desk.exe"}));
    EXPECT_EQ(proc.Comm(40), "De) (sk");
    EXPECT_EQ(proc.RealUser(42), me + 1);
    std::vector<pid_t> children = proc.Children(40);
    std::sort(children.begin(), children.end());
    EXPECT_EQ(children, (std::vector<pid_t>{43, 44, 45}));

    // The environment only of the user's own processes; a name is matched whole.
    EXPECT_EQ(proc.EnvironmentValue(40, "ORVEL_MARK", me), "a:3:ff");
    EXPECT_EQ(proc.EnvironmentValue(40, "ORVEL", me), "x");
    EXPECT_EQ(proc.EnvironmentValue(40, "ORVEL_", me), std::nullopt);
    EXPECT_EQ(proc.Environment(42, me), std::nullopt) << "another user's";
    EXPECT_EQ(proc.Environment(40, me + 1), std::nullopt);

    // Gone after the listing: every read is empty, nothing throws.
    const std::vector<pid_t> listed = proc.Pids();
    fs::remove_all(ours);
    EXPECT_EQ(listed.size(), 2u);
    EXPECT_EQ(proc.Stat(40), std::nullopt);
    EXPECT_EQ(proc.CommandLine(40), std::nullopt);
    EXPECT_EQ(proc.Environment(40, me), std::nullopt);
    EXPECT_TRUE(proc.Children(40).empty());
    EXPECT_EQ(proc.AllStats().size(), 1u);
    // The whole root gone under an open reader.
    fs::remove_all(root_.path());
    EXPECT_TRUE(proc.Pids().empty());
    EXPECT_EQ(proc.Stat(42), std::nullopt);
    EXPECT_EQ(proc.ExeLink(42), std::nullopt);
}

// A real process that ends and is reaped after its stat file was opened:
// the read fails with ESRCH, which the reader answers with nullopt.
TEST(ProcFsTest, ProcessReapedBetweenOpenAndReadIsAnAnswer) {
    const ProcFs proc;
    for (int round = 0; round < 3; ++round) {
        const pid_t child = fork();
        if (child == 0) {
            pause();
            _exit(0);
        }
        ASSERT_GT(child, 0);
        const std::string folder = "/proc/" + std::to_string(child);
        const UniqueFd stat(open((folder + "/stat").c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(stat);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        EXPECT_EQ(ReadOpenFile(stat.get(), 4096), std::nullopt);
        EXPECT_EQ(proc.Stat(child), std::nullopt);
        EXPECT_EQ(proc.CommandLine(child), std::nullopt);
        EXPECT_EQ(proc.Environment(child, getuid()), std::nullopt);
    }
    EXPECT_EQ(ReadOpenFile(-1, 10), std::nullopt);
    // The live process itself, through the real root.
    const auto self = proc.Stat(getpid());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->parent, getppid());
    EXPECT_EQ(self->group, getpgrp());
    EXPECT_EQ(proc.RealUser(getpid()), getuid());
}

// The one rule for "the same program": the file, however the path is spelled.
class SameProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(suite_);
        fs::copy_file("/bin/sleep", suite_ / "X.exe");
        fs::copy_file("/bin/sleep", suite_ / "Y.exe");  // the same bytes, another file
        fs::create_directory_symlink(suite_, temp_.path() / "link");
        // A script the kernel runs as "/bin/sh script", one as "tail -f script".
        fakes::WriteFile(suite_ / "S.exe", "#!/bin/sh\nwhile :; do sleep 1; done\n");
        fakes::WriteFile(suite_ / "T.exe", "#!  /usr/bin/tail  -f \nline\n");
        fakes::WriteFile(suite_ / "U.exe", "#!/bin/sh\nwhile :; do sleep 1; done\n");
        for (const char* script : {"S.exe", "T.exe", "U.exe"}) {
            fs::permissions(suite_ / script, fs::perms::owner_all);
        }
    }
    std::string Suite(const std::string& rest) const { return temp_.path().string() + rest; }

    fakes::TempDir temp_{"orvel-same-program"};
    fs::path suite_ = temp_.path() / "suite";
    ProcFs proc_;
};

TEST_F(SameProgramTest, NonCanonicalSpellingsAndScriptsAreTheSameProgram) {
    fakes::RunningProgram binary(suite_ / "X.exe", {"600"});
    fakes::RunningProgram viaLink(temp_.path() / "link" / "X.exe", {"600"});
    fakes::RunningProgram script(temp_.path() / "link" / "S.exe");
    fakes::RunningProgram withOption(suite_ / "T.exe");
    ASSERT_GT(binary.pid(), 0);
    ASSERT_GT(script.pid(), 0);
    ASSERT_GT(withOption.pid(), 0);

    const struct {
        pid_t pid;
        std::string registered;
        bool same;
    } cases[] = {
        {binary.pid(), Suite("/suite/X.exe"), true},
        {binary.pid(), Suite("/suite//X.exe"), true},
        {binary.pid(), Suite("/suite/./X.exe"), true},
        {binary.pid(), Suite("/link/X.exe"), true},
        {binary.pid(), Suite("/link/../suite/X.exe"), true},
        {viaLink.pid(), Suite("/suite/X.exe"), true},
        {binary.pid(), Suite("/suite/Y.exe"), false},  // same bytes, another file
        {binary.pid(), "/bin/sleep", false},
        {binary.pid(), Suite("/suite/Missing.exe"), false},
        {script.pid(), Suite("/suite/S.exe"), true},
        {script.pid(), Suite("/link//./S.exe"), true},
        {script.pid(), Suite("/suite/U.exe"), false},  // the same interpreter, another script
        {withOption.pid(), Suite("/suite/./T.exe"), true},
        {withOption.pid(), Suite("/suite/S.exe"), false},
        {getpid(), Suite("/suite/X.exe"), false},
        {99999999, Suite("/suite/X.exe"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameProgram(proc_, c.pid, c.registered), c.same) << c.pid << " " << c.registered;
    }

    // One look serves a list; indexes come in order.
    std::vector<ProgramIdentity> programs;
    for (const char* name : {"/suite/Y.exe", "/suite/S.exe", "/link/X.exe", "/suite/X.exe"}) {
        programs.push_back(IdentifyProgram(Suite(name)).value());
    }
    EXPECT_EQ(ProgramsRunBy(proc_, binary.pid(), programs), (std::vector<std::size_t>{2, 3}));
    EXPECT_EQ(ProgramsRunBy(proc_, script.pid(), programs), (std::vector<std::size_t>{1}));
    EXPECT_EQ(ProgramsRunBy(proc_, 99999999, programs), std::nullopt);
}

// A program replaced on disk while it runs (an upgrade) is still the
// registered program; a removed program with its folder left too.
TEST_F(SameProgramTest, ProgramReplacedOrRemovedWhileItRunsIsStillItself) {
    fakes::RunningProgram replaced(suite_ / "X.exe", {"600"});
    fakes::RunningProgram removed(suite_ / "Y.exe", {"600"});
    ASSERT_GT(replaced.pid(), 0);
    fs::copy_file("/bin/sleep", suite_ / "X.new");
    fs::rename(suite_ / "X.new", suite_ / "X.exe");
    fs::remove(suite_ / "Y.exe");
    EXPECT_TRUE(SameProgram(proc_, replaced.pid(), Suite("/link/./X.exe")));
    EXPECT_TRUE(SameProgram(proc_, removed.pid(), Suite("/suite//Y.exe")));
    EXPECT_FALSE(SameProgram(proc_, removed.pid(), Suite("/suite/X.exe")));
    EXPECT_FALSE(SameProgram(proc_, replaced.pid(), Suite("/suite/Y.exe")));
}

}  // namespace
}  // namespace orvel::platform
