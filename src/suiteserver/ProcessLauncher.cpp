#include "suiteserver/ProcessLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace orvel::suiteserver {

namespace {

int OpenPidFd(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

}  // namespace

ChildProcessLauncher::ChildProcessLauncher() {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    watcher_ = std::thread([this] { Watch(); });
}

ChildProcessLauncher::~ChildProcessLauncher() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Wake();
    watcher_.join();
    // Children still running are no longer watched: reap the ones that have ended.
    for (auto& [fd, child] : children_) {
        waitpid(child.pid, nullptr, WNOHANG);
        close(fd);
    }
    close(wakeFd_);
}

LaunchResult ChildProcessLauncher::Launch(const std::string& programPath, ExitHandler onExit) {
    LaunchResult result;
    std::error_code ignored;
    std::filesystem::path program = std::filesystem::absolute(programPath, ignored);
    std::string path = program.string();
    std::string folder = program.parent_path().string();
    if (folder.empty()) folder = ".";

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    // Its own process group (so a stop reaches its helpers too), a clean signal
    // mask and default dispositions whatever this server blocks or ignores.
    sigset_t empty;
    sigset_t defaults;
    sigemptyset(&empty);
    sigemptyset(&defaults);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD, SIGQUIT}) sigaddset(&defaults, sig);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &empty);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::string argv0 = program.filename().string();
    char* argv[] = {argv0.data(), nullptr};
    pid_t pid = 0;
    std::lock_guard lock(mutex_);
    int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        result.error = std::strerror(rc);
        return result;
    }
    int fd = OpenPidFd(pid);
    if (fd < 0) {
        // Without a pidfd the child could not be watched: end it rather than lose it.
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        result.error = std::string("pidfd_open: ") + std::strerror(errno);
        return result;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    children_[fd] = Child{pid, std::move(onExit)};
    result.pid = pid;
    Wake();
    return result;
}

bool ChildProcessLauncher::Signal(pid_t pid, int signalNumber) {
    // Under the lock the child cannot be reaped, so its id cannot have been reused.
    std::lock_guard lock(mutex_);
    for (auto& [fd, child] : children_) {
        if (child.pid == pid) {
            if (kill(-pid, signalNumber) != 0) kill(pid, signalNumber);
            return true;
        }
    }
    return false;
}

void ChildProcessLauncher::Wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
}

void ChildProcessLauncher::Watch() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({wakeFd_, POLLIN, 0});
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            for (auto& entry : children_) fds.push_back({entry.first, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto got = read(wakeFd_, &count, sizeof count);
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            Child ended;
            int status = 0;
            {
                std::lock_guard lock(mutex_);
                auto it = children_.find(fds[i].fd);
                if (it == children_.end()) continue;
                pid_t reaped = waitpid(it->second.pid, &status, WNOHANG);
                if (reaped == 0) continue;  // readable but not yet reapable: poll again
                ended = std::move(it->second);
                close(it->first);
                children_.erase(it);
            }
            if (ended.onExit) ended.onExit(ended.pid, status);
        }
    }
}

}  // namespace orvel::suiteserver
