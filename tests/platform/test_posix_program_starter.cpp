#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "platform/linux/PosixProgramStarter.h"
#include "platform/linux/ProcFs.h"
#include "platform/linux/Spawn.h"

namespace orvel::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class PosixProgramStarterTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(folder_); }
    void TearDown() override {
        for (pid_t pid : started_) kill(pid, SIGKILL);
    }
    // A copy of sleep under a suite program's name, running until the test ends it.
    StartResult StartSleeper(const std::string& path) {
        if (!fs::exists(folder_ / "DeskMain.exe"))
            fs::copy_file("/bin/sleep", folder_ / "DeskMain.exe");
        StartResult result = starter_.StartWithArguments(path, {"600"});
        if (result.pid > 0) started_.push_back(result.pid);
        return result;
    }
    static std::string Link(pid_t pid, const std::string& leaf) {
        std::error_code error;
        return fs::read_symlink("/proc/" + std::to_string(pid) + "/" + leaf, error).string();
    }
    // Ended and reaped: the /proc entry is gone (a zombie would keep it).
    static bool GoneWithin(pid_t pid, std::chrono::milliseconds limit) {
        for (auto deadline = std::chrono::steady_clock::now() + limit;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(5ms)) {
            if (!fs::exists("/proc/" + std::to_string(pid))) return true;
        }
        return false;
    }

    fakes::TempDir temp_{"orvel-starter"};
    fs::path folder_ = temp_.path() / "Suite Folder";
    PosixProgramStarter starter_;
    std::vector<pid_t> started_;
};

// Started by full or relative path, in its own folder and session, as our child.
TEST_F(PosixProgramStarterTest, StartsTheProgramInItsFolderAsOurChild) {
    // A descriptor the parent holds open without close-on-exec must not reach
    // the child. The child may open files of its own while it starts (the C
    // library's locale caches), so the check looks for the parent's file, not
    // for a bare 0, 1, 2.
    const fs::path marker = temp_.path() / "stray.lock";
    fakes::WriteFile(marker, "x");
    const int stray = open(marker.c_str(), O_RDONLY);
    ASSERT_GE(stray, 0);
    const StartResult result = StartSleeper((folder_ / "DeskMain.exe").string());
    close(stray);
    ASSERT_GT(result.pid, 0) << result.error;
    const pid_t pid = result.pid;
    EXPECT_TRUE(result.error.empty());
    EXPECT_EQ(Link(pid, "exe"), (folder_ / "DeskMain.exe").string());
    EXPECT_EQ(Link(pid, "cwd"), folder_.string());
    EXPECT_EQ(getsid(pid), pid) << "a session of its own";
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "our child, still running";
    std::vector<std::string> targets;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        targets.push_back(Link(pid, "fd/" + entry.path().filename().string()));
    }
    EXPECT_EQ(std::count(targets.begin(), targets.end(), marker.string()), 0)
        << "the parent's descriptor lives on in the child";
    EXPECT_GE(targets.size(), 3u) << "standard input, output and error stay";

    // Known alive through its own handle; a process it did not start is not.
    EXPECT_TRUE(starter_.IsAlive(pid));
    EXPECT_FALSE(starter_.IsAlive(getpid()));
    // Ending the program leaves no zombie behind, and it counts as ended.
    kill(pid, SIGTERM);
    EXPECT_TRUE(GoneWithin(pid, 10s));
    EXPECT_FALSE(starter_.IsAlive(pid));

    // A relative path is taken against the current directory.
    const fs::path previous = fs::current_path();
    fs::current_path(temp_.path());
    const StartResult relative = StartSleeper("Suite Folder/DeskMain.exe");
    fs::current_path(previous);
    ASSERT_GT(relative.pid, 0) << relative.error;
    EXPECT_EQ(Link(relative.pid, "exe"), (folder_ / "DeskMain.exe").string());
    EXPECT_EQ(Link(relative.pid, "cwd"), folder_.string());
}

TEST_F(PosixProgramStarterTest, FailedStartsAreErrorsNotPids) {
    const fs::path plain = folder_ / "Plain.exe";
    fakes::WriteFile(plain, "not a program\n");
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    const struct {
        fs::path program;
        const char* error;
    } cases[] = {{folder_ / "Missing.exe", "No such file or directory"},
                 {temp_.path() / "No Folder" / "Missing.exe", "No such file or directory"},
                 {"", "No such file or directory"},
                 {plain, "Permission denied"},
                 {folder_, "Permission denied"}};
    for (const auto& c : cases) {
        const StartResult result = starter_.Start(c.program.string(), 1);
        EXPECT_EQ(result.pid, 0) << c.program;
        EXPECT_EQ(result.error, c.error) << c.program;
    }
    fs::permissions(plain, fs::perms::owner_all);
    EXPECT_EQ(starter_.Start(plain.string(), 1).error, "Exec format error");
}

// Exec is done once the executable is no longer this test program and the
// command line is in place.
bool ExecDone(const ProcFs& proc, pid_t pid) {
    const auto self = proc.ExeLink(getpid());
    for (auto deadline = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(1ms)) {
        const auto words = proc.CommandLine(pid);
        if (proc.ExeLink(pid) != self && words && !words->empty()) return true;
    }
    return false;
}

// One mask line of /proc/PID/status ("SigBlk:", "SigIgn:").
std::string StatusField(const ProcFs& proc, pid_t pid, const std::string& name) {
    const std::string status = proc.Read(pid, "status", 8192).value_or("");
    const std::size_t at = status.find("\n" + name);
    if (at == std::string::npos) return "<none>";
    const std::size_t start = status.find_first_not_of(" \t", at + name.size() + 1);
    return status.substr(start, status.find('\n', start) - start);
}

// The recipe both the console and the server start programs with: the child
// gets nothing of this process it was not meant to get.
TEST(SpawnTest, ChildGetsItsGroupFolderEnvironmentAndRedirectionsAndNothingElse) {
    fakes::TempDir folder("orvel-spawn");
    const ProcFs proc;
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(pipe(pipeEnds), 0);  // without close-on-exec, as a careless caller would
    const UniqueFd readEnd(pipeEnds[0]);
    UniqueFd writeEnd(pipeEnds[1]);
    const UniqueFd stray(open(folder.path().c_str(), O_RDONLY | O_DIRECTORY));
    // What this process ignores and blocks must not reach the child.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previousPipe {};
    struct sigaction previousHangUp {};
    sigaction(SIGPIPE, &ignore, &previousPipe);
    sigaction(SIGHUP, &ignore, &previousHangUp);
    sigset_t blocked;
    sigset_t previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);

    SpawnRequest request;
    request.program = "/bin/sleep";
    request.arguments = {"600"};
    request.workingFolder = folder.path().string();
    request.grouping = SpawnRequest::Grouping::kOwnGroup;
    request.extraEnvironment = {"ORVEL_COMPONENT_MARKER=install:3:nonce", "HOME=/nowhere"};
    request.standardOutput = writeEnd.get();
    SpawnResult started = Spawn(request);

    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    sigaction(SIGPIPE, &previousPipe, nullptr);
    sigaction(SIGHUP, &previousHangUp, nullptr);
    ASSERT_GT(started.pid, 0) << started.errorText;
    const pid_t pid = started.pid;
    EXPECT_TRUE(started.pidfd.valid());
    ASSERT_TRUE(ExecDone(proc, pid));

    EXPECT_EQ(getpgid(pid), pid) << "a process group of its own";
    EXPECT_EQ(getsid(pid), getsid(0)) << "in this session";
    // The classic signals; the C library keeps its own two (32, 33) to itself.
    const auto classic = [&](const char* field) {
        return std::stoull(StatusField(proc, pid, field), nullptr, 16) & 0x7fffffffull;  // 1 to 31
    };
    EXPECT_EQ(classic("SigBlk:"), 0u);
    EXPECT_EQ(classic("SigIgn:"), 0u);
    std::error_code error;
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/cwd", error),
              fs::canonical(folder.path()));
    EXPECT_EQ(proc.EnvironmentValue(pid, "ORVEL_COMPONENT_MARKER", getuid()), "install:3:nonce");
    EXPECT_EQ(proc.EnvironmentValue(pid, "HOME", getuid()), "/nowhere");
    if (const char* path = getenv("PATH")) {
        EXPECT_EQ(proc.EnvironmentValue(pid, "PATH", getuid()), path);
    }
    // Standard output is the pipe; the descriptors above 2 are gone.
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    const std::string pipeName =
        fs::read_symlink("/proc/self/fd/" + std::to_string(writeEnd.get()));
    EXPECT_EQ(fs::read_symlink(fds + "/1", error).string(), pipeName);
    for (const auto& entry : fs::directory_iterator(fds, error)) {
        const std::string target = fs::read_symlink(entry.path(), error).string();
        EXPECT_NE(target, folder.path().string()) << "a stray descriptor lives on";
        if (std::stoi(entry.path().filename().string()) > 2) {
            EXPECT_NE(target, pipeName) << "the redirected descriptor itself lives on";
        }
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);

    // What the child writes arrives; its end is the only writer left.
    request.program = "/bin/echo";
    request.arguments = {"from the child"};
    request.extraEnvironment.clear();
    SpawnResult echo = Spawn(request);
    ASSERT_GT(echo.pid, 0) << echo.errorText;
    writeEnd.reset();
    std::string output;
    char buffer[64];
    for (ssize_t n = 0; (n = read(readEnd.get(), buffer, sizeof buffer)) > 0;)
        output.append(buffer, n);
    waitpid(echo.pid, nullptr, 0);
    EXPECT_EQ(output, "from the child\n");
}

TEST(SpawnTest, RefusedRequestsStartNothing) {
    auto request = [](std::string program, std::string folder, std::string entry) {
        SpawnRequest made;
        made.program = std::move(program);
        made.workingFolder = std::move(folder);
        if (!entry.empty()) made.extraEnvironment.push_back(std::move(entry));
        return made;
    };
    const struct {
        SpawnRequest request;
        int error;
    } cases[] = {
        {request("/bin/true", "", "NO_VALUE"), EINVAL},
        {request("/bin/true", "", "=x"), EINVAL},
        {request("/nonexistent/program", "", ""), ENOENT},
        {request("/bin/true", "/nonexistent/folder", ""), ENOENT},
        {request("", "", ""), ENOENT},
    };
    for (const auto& c : cases) {
        const SpawnResult result = Spawn(c.request);
        EXPECT_EQ(result.pid, 0) << c.request.program;
        EXPECT_EQ(result.error, c.error) << c.request.program << " " << result.errorText;
        EXPECT_FALSE(result.errorText.empty());
    }
}

}  // namespace
}  // namespace orvel::platform
