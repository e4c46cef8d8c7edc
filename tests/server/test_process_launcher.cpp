// The launcher's notion of what belongs to a component once its first process
// has ended: the processes it left in its group are its own, a later group
// that got the same number (process ids wrap soon on a machine that forks
// fast) is not. Real processes; a process id is chosen through
// /proc/sys/kernel/ns_last_pid, so the second case needs root.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

#include "SuiteServerHarness.h"
#include "TempDir.h"
#include "platform/linux/ProcFs.h"
#include "suiteserver/ProcessLauncher.h"

namespace orvel::testing {
namespace {

using namespace std::chrono_literals;
using suiteserver::ChildProcessLauncher;

bool Lives(pid_t pid) {
    auto stat = platform::ProcFs().Stat(pid);
    return stat && stat->state != 'Z' && stat->state != 'X';
}

// Launches program and waits until its first process has ended and was reaped.
pid_t LaunchAndWaitForItsEnd(ChildProcessLauncher& launcher, const std::string& program) {
    auto ended = std::make_shared<std::atomic<bool>>(false);
    auto launched = launcher.Launch(program, {}, {}, [ended](pid_t, int) { *ended = true; });
    EXPECT_GT(launched.pid, 0) << launched.error;
    EXPECT_TRUE(WaitUntil([&] { return ended->load(); }, 20s));
    return launched.pid;
}

TEST(ChildProcessLauncher, WhatTheFirstProcessLeftInItsGroupIsFoundAndEnded) {
    fakes::TempDir folder{"orvel-launcher"};
    const std::string script = folder.str("leaves-a-helper");
    std::ofstream(script) << "#!/bin/sh\nsleep 60 &\nexit 0\n";
    chmod(script.c_str(), 0755);
    ChildProcessLauncher launcher;
    const pid_t component = LaunchAndWaitForItsEnd(launcher, script);
    // The helper was never looked at before its parent ended.
    EXPECT_TRUE(launcher.Remains(component));
    launcher.Signal(component, SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return !launcher.Remains(component); }, 20s));
}

TEST(ChildProcessLauncher, AGroupThatGotTheNumberOfAnEndedComponentIsNotItsGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "choosing a process id needs root";
    ChildProcessLauncher launcher;
    const pid_t component = LaunchAndWaitForItsEnd(launcher, "/bin/true");
    ASSERT_GT(component, 1);

    // A stranger's group under the component's old number: its leader ends,
    // its member lives on in it.
    pid_t member = 0;
    for (int attempt = 0; attempt < 200 && member == 0; ++attempt) {
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        std::ofstream("/proc/sys/kernel/ns_last_pid") << component - 1;
        const pid_t leader = fork();
        if (leader == 0) {
            if (getpid() == component && setpgid(0, 0) == 0) {
                pid_t child = fork();
                if (child == 0) {
                    for (;;) pause();
                }
                [[maybe_unused]] auto put = write(report[1], &child, sizeof child);
            }
            _exit(0);
        }
        close(report[1]);
        pid_t child = 0;
        if (read(report[0], &child, sizeof child) == static_cast<ssize_t>(sizeof child)) {
            member = child;
        }
        close(report[0]);
        waitpid(leader, nullptr, 0);
    }
    if (member == 0) GTEST_SKIP() << "the component's process id could not be had again";
    ASSERT_EQ(getpgid(member), component);

    EXPECT_FALSE(launcher.Remains(component));
    launcher.Signal(component, SIGKILL);
    EXPECT_TRUE(Lives(member)) << "a stranger in a later group was signalled";
    kill(member, SIGKILL);
    waitpid(member, nullptr, 0);  // unless the launcher reaped it as a stray
}

}  // namespace
}  // namespace orvel::testing
