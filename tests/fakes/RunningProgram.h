#pragma once

// A program started for a test and killed (and reaped) when the object goes.
// The constructor returns once the program's executable and command line are
// in place in /proc, so a process walk sees it as it will stay.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace orvel::fakes {

class RunningProgram {
  public:
    explicit RunningProgram(const std::filesystem::path& program,
                            std::vector<std::string> arguments = {}) {
        std::string path = program.string();
        std::vector<char*> argv{path.data()};
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = 0;
            return;
        }
        // posix_spawn may return while the kernel is still inside exec. Exec is
        // done once the executable is no longer this test program: the program
        // itself, the target of a link, a script's interpreter, or unreadable
        // (a program with file capabilities).
        const std::string proc = "/proc/" + std::to_string(pid_);
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            std::error_code error;
            std::ifstream cmdline(proc + "/cmdline");
            const std::filesystem::path exe = std::filesystem::read_symlink(proc + "/exe", error);
            const bool execDone = error ? error == std::errc::permission_denied : exe != self;
            if (execDone && cmdline.peek() != std::ifstream::traits_type::eof()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~RunningProgram() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = 0;
};

}  // namespace orvel::fakes
