#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
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
    void SetUp() override { fs::create_directories(folder_ / "Suite Folder"); }
    void TearDown() override {
        for (pid_t pid : started_) kill(pid, SIGKILL);
    }
    fs::path Copy(const char* from, const std::string& name) {
        fs::path to = folder_ / "Suite Folder" / name;
        fs::copy_file(from, to);
        return to;
    }
    StartResult Start(const std::string& path) {
        StartResult result = starter_.Start(path, 1);
        if (result.pid > 0) started_.push_back(result.pid);
        return result;
    }
    struct Holding {
        StartResult result;
        int writeEnd = -1;  // closing it ends the started cat
    };
    // Starts a copy of cat reading from a pipe, so it runs until the test lets go.
    Holding StartHolding(const std::string& path) {
        int fds[2];
        if (pipe(fds) != 0) return {};
        const int savedIn = dup(0);
        dup2(fds[0], 0);
        Holding held{Start(path), fds[1]};
        dup2(savedIn, 0);
        close(savedIn);
        close(fds[0]);
        return held;
    }
    static pid_t ParentOf(pid_t pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string state;
        pid_t parent = 0;
        fields >> state >> parent;
        return parent;
    }
    static std::string Link(pid_t pid, const char* leaf) {
        std::error_code error;
        return fs::read_symlink("/proc/" + std::to_string(pid) + "/" + leaf, error).string();
    }
    // Ended and reaped: the /proc entry is gone (a zombie would keep it).
    static bool GoneWithin(pid_t pid, std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!fs::exists("/proc/" + std::to_string(pid))) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    fakes::TempDir temp_{"orvel-starter"};
    fs::path folder_ = temp_.path();
    PosixProgramStarter starter_;
    std::vector<pid_t> started_;
};

// Started by full or relative path, in its own folder, as our child.
TEST_F(PosixProgramStarterTest, StartsTheProgramInItsFolderAsOurChild) {
    const fs::path program = Copy("/bin/cat", "DeskMain.exe");
    // A descriptor the parent holds open without close-on-exec must not reach
    // the child. The child may open files of its own while it starts (the C
    // library's locale caches), so the check looks for the parent's file, not
    // for a bare 0, 1, 2.
    const fs::path marker = folder_ / "stray.lock";
    std::ofstream(marker).put('x');
    const int stray = open(marker.c_str(), O_RDONLY);
    ASSERT_GE(stray, 0);
    Holding held = StartHolding(program.string());
    close(stray);
    ASSERT_GT(held.result.pid, 0) << held.result.error;
    const pid_t pid = held.result.pid;
    EXPECT_TRUE(held.result.error.empty());
    EXPECT_EQ(Link(pid, "exe"), program.string());
    EXPECT_EQ(Link(pid, "cwd"), program.parent_path().string());
    EXPECT_EQ(getsid(pid), pid) << "a session of its own";
    EXPECT_EQ(ParentOf(pid), getpid());
    std::vector<std::string> targets;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        targets.push_back(Link(pid, ("fd/" + entry.path().filename().string()).c_str()));
    }
    EXPECT_EQ(std::count(targets.begin(), targets.end(), marker.string()), 0)
        << "the parent's descriptor lives on in the child";
    EXPECT_GE(targets.size(), 3u) << "standard input, output and error stay";

    // Known alive through its own handle; a process it did not start is not.
    EXPECT_TRUE(starter_.IsAlive(pid));
    EXPECT_FALSE(starter_.IsAlive(getpid()));

    // Ending the program leaves no zombie behind, and it counts as ended.
    close(held.writeEnd);
    EXPECT_TRUE(GoneWithin(pid, 10s));
    EXPECT_FALSE(starter_.IsAlive(pid));

    // A relative path is taken against the current directory.
    const fs::path previous = fs::current_path();
    fs::current_path(folder_);
    Holding relative = StartHolding("Suite Folder/DeskMain.exe");
    fs::current_path(previous);
    ASSERT_GT(relative.result.pid, 0) << relative.result.error;
    EXPECT_EQ(Link(relative.result.pid, "exe"), program.string());
    EXPECT_EQ(Link(relative.result.pid, "cwd"), program.parent_path().string());
    close(relative.writeEnd);
    EXPECT_TRUE(GoneWithin(relative.result.pid, 10s));
}

TEST_F(PosixProgramStarterTest, FailedStartsAreErrorsNotPids) {
    EXPECT_EQ(Start((folder_ / "Suite Folder" / "Missing.exe").string()).error,
              "No such file or directory");
    EXPECT_EQ(Start((folder_ / "No Folder" / "Missing.exe").string()).error,
              "No such file or directory");
    EXPECT_EQ(Start("").error, "No such file or directory");

    const fs::path plain = folder_ / "Suite Folder" / "Plain.exe";
    std::ofstream(plain) << "not a program\n";
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    StartResult notExecutable = Start(plain.string());
    EXPECT_EQ(notExecutable.pid, 0);
    EXPECT_EQ(notExecutable.error, "Permission denied");

    fs::permissions(plain, fs::perms::owner_all);
    StartResult garbage = Start(plain.string());
    EXPECT_EQ(garbage.pid, 0);
    EXPECT_EQ(garbage.error, "Exec format error");

    StartResult folder = Start((folder_ / "Suite Folder").string());
    EXPECT_EQ(folder.pid, 0);
    EXPECT_FALSE(folder.error.empty());
}

}  // namespace
}  // namespace orvel::platform
