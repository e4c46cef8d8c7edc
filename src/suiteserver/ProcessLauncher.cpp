#include "suiteserver/ProcessLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "suiteserver/ProcTable.h"

extern char** environ;

namespace orvel::suiteserver {

namespace {

int OpenPidFd(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool Alive(const ProcEntry& entry) {
    return entry.state != 'Z' && entry.state != 'X';
}

bool Readable(int fd) {
    pollfd one{fd, POLLIN, 0};
    return poll(&one, 1, 0) > 0;
}

// How often the watcher looks for ended strays when nothing else wakes it.
constexpr int kStraySweepMs = 1000;

}  // namespace

const char* DescribeVerdict(AdoptVerdict verdict) {
    switch (verdict) {
        case AdoptVerdict::kAdopted:
            return "adopted";
        case AdoptVerdict::kGone:
            return "no longer running";
        case AdoptVerdict::kOtherProcess:
            return "its process id now belongs to another process";
        case AdoptVerdict::kOtherProgram:
            return "the process runs another program";
        case AdoptVerdict::kOtherOwner:
            return "the process belongs to another user";
        case AdoptVerdict::kNotWatchable:
            return "the process cannot be watched";
    }
    return "unknown";
}

ChildProcessLauncher::ChildProcessLauncher() {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    // Orphans of our components become our children instead of init's.
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    watcher_ = std::thread([this] { Watch(); });
}

ChildProcessLauncher::~ChildProcessLauncher() {
    StopWatching();
    // Children still running are no longer watched: reap the ones that have ended.
    for (auto& [fd, process] : watched_) {
        if (process.ownChild) waitpid(process.pid, nullptr, WNOHANG);
        close(fd);
    }
    ReapStrays();
    close(wakeFd_);
}

void ChildProcessLauncher::StopWatching() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Wake();
    if (watcher_.joinable() && watcher_.get_id() != std::this_thread::get_id()) watcher_.join();
}

LaunchResult ChildProcessLauncher::Launch(const std::string& programPath,
                                          const std::vector<std::string>& environment,
                                          ExitHandler onExit) {
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
    std::vector<std::string> entries = environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        bool replaced = std::any_of(environment.begin(), environment.end(), [&](const auto& own) {
            auto name = own.substr(0, own.find('=') + 1);
            return text.substr(0, name.size()) == name;
        });
        if (!replaced) entries.emplace_back(text);
    }
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    std::lock_guard lock(mutex_);
    if (stopping_) {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        result.error = "the server is stopping";
        return result;
    }
    int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        result.error = std::strerror(rc);
        return result;
    }
    int fd = OpenPidFd(pid);
    // The child is not reaped before the watcher sees it, so its entry is there.
    auto entry = ReadProcEntry(pid);
    if (fd < 0 || !entry) {
        // Without a pidfd the child could not be watched: end it rather than lose it.
        result.error = std::string("pidfd_open: ") + std::strerror(errno);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        if (fd >= 0) close(fd);
        return result;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    watched_[fd] = Watched{pid, true, std::move(onExit)};
    Component component;
    component.first = {pid, entry->startTime};
    component.group = pid;
    components_[pid] = component;
    result.pid = pid;
    result.startTime = entry->startTime;
    Wake();
    return result;
}

AdoptVerdict ChildProcessLauncher::Adopt(ProcessIdentity process, const std::string& programPath,
                                         ExitHandler onExit) {
    if (process.pid <= 0) return AdoptVerdict::kGone;
    // The handle first: whatever is checked below is then the process it holds.
    int fd = OpenPidFd(process.pid);
    if (fd < 0) return errno == ESRCH ? AdoptVerdict::kGone : AdoptVerdict::kNotWatchable;
    auto verdict = [&]() {
        auto entry = ReadProcEntry(process.pid);
        if (!entry || !Alive(*entry)) return AdoptVerdict::kGone;
        if (entry->startTime != process.startTime) return AdoptVerdict::kOtherProcess;
        struct stat owner {};
        std::string folder = "/proc/" + std::to_string(process.pid);
        if (stat(folder.c_str(), &owner) != 0) return AdoptVerdict::kGone;
        if (owner.st_uid != geteuid()) return AdoptVerdict::kOtherOwner;
        std::error_code error;
        std::string exe = std::filesystem::read_symlink(folder + "/exe", error).string();
        if (error) return AdoptVerdict::kOtherOwner;  // not ours to look into
        // A program replaced on disk while it runs shows as "(deleted)".
        if (exe != programPath && exe != programPath + " (deleted)") {
            return AdoptVerdict::kOtherProgram;
        }
        if (Readable(fd)) return AdoptVerdict::kGone;
        std::lock_guard lock(mutex_);
        if (stopping_) return AdoptVerdict::kNotWatchable;
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        watched_[fd] = Watched{process.pid, entry->parent == getpid(), std::move(onExit)};
        Component component;
        component.first = process;
        component.group = entry->group;
        components_[process.pid] = component;
        Wake();
        return AdoptVerdict::kAdopted;
    }();
    if (verdict != AdoptVerdict::kAdopted) close(fd);
    return verdict;
}

std::set<ProcessIdentity> ChildProcessLauncher::LiveMembers(Component& component,
                                                            const std::map<pid_t, ProcEntry>& all) {
    auto matches = [&](const ProcessIdentity& process) {
        auto it = all.find(process.pid);
        return it != all.end() && it->second.startTime == process.startTime && Alive(it->second);
    };
    std::set<ProcessIdentity> live;
    if (!component.firstEnded && matches(component.first)) live.insert(component.first);
    for (const auto& member : component.members) {
        if (matches(member)) live.insert(member);
    }
    // The group's number is ours as long as no other process holds it as its id.
    auto holder = all.find(component.group);
    bool groupIsOurs =
        holder == all.end() || (component.group == component.first.pid &&
                                holder->second.startTime == component.first.startTime);
    for (const auto& [pid, entry] : all) {
        if (groupIsOurs && entry.group == component.group && Alive(entry)) {
            live.insert({pid, entry.startTime});
        }
    }
    // Descendants of what belongs to it, also those that left its group.
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [pid, entry] : all) {
            if (!Alive(entry) || live.count({pid, entry.startTime}) != 0) continue;
            const auto parent = entry.parent;
            bool childOfMember =
                std::any_of(live.begin(), live.end(),
                            [parent](const auto& member) { return member.pid == parent; });
            if (childOfMember) {
                live.insert({pid, entry.startTime});
                grew = true;
            }
        }
    }
    component.members = live;
    component.members.erase(component.first);
    return live;
}

void ChildProcessLauncher::Signal(pid_t component, int signalNumber) {
    std::lock_guard lock(mutex_);
    auto it = components_.find(component);
    if (it == components_.end()) return;
    // Look first, signal after: once the first process has ended its children
    // no longer show as its descendants.
    auto live = LiveMembers(it->second, ReadAllProcEntries());
    auto holder = ReadProcEntry(it->second.group);
    bool groupIsOurs =
        !holder || live.count({holder->pid, holder->startTime}) != 0 ||
        (holder->pid == it->second.first.pid && holder->startTime == it->second.first.startTime);
    // The first process through its pidfd: that reaches it whatever /proc shows.
    for (const auto& [fd, process] : watched_) {
        if (process.pid == component) syscall(SYS_pidfd_send_signal, fd, signalNumber, nullptr, 0);
    }
    if (groupIsOurs) kill(-it->second.group, signalNumber);
    for (const auto& member : live) {
        if (member.pid != component) kill(member.pid, signalNumber);
    }
}

bool ChildProcessLauncher::Remains(pid_t component) {
    std::lock_guard lock(mutex_);
    auto it = components_.find(component);
    if (it == components_.end()) return false;
    auto live = LiveMembers(it->second, ReadAllProcEntries());
    live.erase(it->second.first);
    return !live.empty();
}

void ChildProcessLauncher::Refresh() {
    std::lock_guard lock(mutex_);
    if (components_.empty()) return;
    auto all = ReadAllProcEntries();
    for (auto& [pid, component] : components_) LiveMembers(component, all);
}

void ChildProcessLauncher::Forget(pid_t component) {
    std::lock_guard lock(mutex_);
    components_.erase(component);
}

void ChildProcessLauncher::Wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
}

void ChildProcessLauncher::ReapStrays() {
    // Under the lock no child is being started, so every child not watched is a stray.
    std::lock_guard lock(mutex_);
    for (pid_t child : OwnChildren()) {
        bool watched = std::any_of(watched_.begin(), watched_.end(), [&](const auto& entry) {
            return entry.second.ownChild && entry.second.pid == child;
        });
        if (!watched) waitpid(child, nullptr, WNOHANG);
    }
}

void ChildProcessLauncher::EndStrays() {
    // Killing a stray hands its own children to us: a few rounds end them too.
    for (int round = 0; round < 5; ++round) {
        std::vector<pid_t> strays;
        {
            std::lock_guard lock(mutex_);
            for (pid_t child : OwnChildren()) {
                bool watched = std::any_of(watched_.begin(), watched_.end(), [&](const auto& w) {
                    return w.second.ownChild && w.second.pid == child;
                });
                if (!watched) strays.push_back(child);
            }
        }
        if (strays.empty()) return;
        for (pid_t stray : strays) kill(stray, SIGKILL);
        for (pid_t stray : strays) waitpid(stray, nullptr, 0);
    }
}

void ChildProcessLauncher::Watch() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({wakeFd_, POLLIN, 0});
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            for (auto& entry : watched_) fds.push_back({entry.first, POLLIN, 0});
        }
        int ready = poll(fds.data(), fds.size(), kStraySweepMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto got = read(wakeFd_, &count, sizeof count);
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            Watched ended;
            int status = -1;
            {
                std::lock_guard lock(mutex_);
                auto it = watched_.find(fds[i].fd);
                if (it == watched_.end()) continue;
                if (it->second.ownChild) {
                    pid_t reaped = waitpid(it->second.pid, &status, WNOHANG);
                    if (reaped == 0) continue;  // readable but not yet reapable: poll again
                    if (reaped < 0) status = -1;
                }
                ended = std::move(it->second);
                close(it->first);
                watched_.erase(it);
                if (auto component = components_.find(ended.pid); component != components_.end()) {
                    component->second.firstEnded = true;
                }
            }
            if (ended.onExit) ended.onExit(ended.pid, status);
        }
        // Orphans handed to us (we are their subreaper) are reaped as they end.
        ReapStrays();
    }
}

}  // namespace orvel::suiteserver
