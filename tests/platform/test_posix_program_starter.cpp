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

}  // namespace
}  // namespace orvel::platform
