#include "CrashSupport.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/linux/ProcFs.h"

extern char** environ;

namespace orvel::testing {

using namespace std::chrono_literals;

std::vector<pid_t> Running(const std::string& path) {
    const platform::ProcFs proc;
    std::vector<pid_t> found;
    for (pid_t pid : proc.Pids()) {
        auto stat = proc.Stat(pid);
        if (!stat || stat->state == 'Z' || stat->state == 'X') continue;
        if (proc.ExeLink(pid) == path) {
            found.push_back(pid);
            continue;
        }
        auto words = proc.CommandLine(pid, 2);
        if (words && words->size() == 2 && (*words)[1] == path) found.push_back(pid);
    }
    return found;
}

Decoy::Decoy(const std::string& program, const std::string& environmentEntry) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
    if (!environmentEntry.empty()) env.push_back(environmentEntry);
    std::vector<std::string> args{program};
    auto argv = Pointers(args);
    auto envp = Pointers(env);
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = 0;
        return;
    }
    // Once exec is done the process shows the program.
    WaitUntil(
        [&] {
            auto running = Running(program);
            return std::find(running.begin(), running.end(), pid_) != running.end();
        },
        10s);
}

Decoy::~Decoy() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

bool Decoy::Alive() const {
    return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0 && kill(pid_, 0) == 0;
}

void StartServerDyingAt(SuiteServerHarness& harness, const std::string& step) {
    if (step.empty()) {
        unsetenv("ORVEL_TEST_CRASH_AT");
    } else {
        setenv("ORVEL_TEST_CRASH_AT", step.c_str(), 1);
    }
    harness.StartServer();
    unsetenv("ORVEL_TEST_CRASH_AT");
}

bool ServerKilled(SuiteServerHarness& harness) {
    int status = 0;
    pid_t pid = harness.serverPid;
    harness.serverPid = 0;
    if (pid <= 0) return false;
    if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 20s)) {
        kill(pid, SIGKILL);  // it never reached the step: the test fails, the server goes
        waitpid(pid, nullptr, 0);
        return false;
    }
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

std::string InstallStubbornScript(SuiteServerHarness& harness, int slot) {
    std::string program = harness.InstallComponent(slot);
    std::ofstream(program, std::ios::trunc) << "#!/bin/sh\n"
                                            << "trap '' TERM\n"
                                            << "while :; do sleep 1; done\n";
    chmod(program.c_str(), 0755);
    return program;
}

}  // namespace orvel::testing
