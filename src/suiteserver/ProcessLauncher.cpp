#include "suiteserver/ProcessLauncher.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "platform/FileReplace.h"
#include "platform/linux/ProgramIdentity.h"
#include "platform/linux/Spawn.h"

namespace orvel::suiteserver {

namespace {

using platform::ProcStat;
using platform::UniqueFd;

UniqueFd OpenPidFd(pid_t pid) {
    return UniqueFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
}

bool Alive(const ProcStat& entry) {
    return entry.state != 'Z' && entry.state != 'X';
}

bool Readable(int fd) {
    pollfd one{fd, POLLIN, 0};
    return poll(&one, 1, 0) > 0;
}

// Whether one of processes (alive in all) is in group.
bool AnyInGroup(const std::set<ProcessIdentity>& processes, const std::map<pid_t, ProcStat>& all,
                pid_t group) {
    return std::any_of(processes.begin(), processes.end(), [&](const ProcessIdentity& process) {
        auto entry = all.find(process.pid);
        return entry != all.end() && entry->second.group == group;
    });
}

// How often the watcher looks for ended strays when nothing else wakes it.
constexpr int kStraySweepMs = 1000;

}  // namespace

std::unique_ptr<platform::ComponentOutput> MakeComponentOutput(const platform::InstallRoot& root,
                                                               bool stderrIsJournal) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    fs::path logPipe = self.parent_path() / "orvel-logpipe";
    if (!fs::exists(logPipe, error)) {
        logPipe = (self.parent_path() / ".." / ORVEL_LIBEXEC_DIR / "orvel" / "orvel-logpipe")
                      .lexically_normal();
    }
    return platform::ChooseComponentOutput(
        stderrIsJournal, platform::FolderOf(root.registryStore) + "/component-logs",
        logPipe.string());
}

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

ChildProcessLauncher::ChildProcessLauncher(platform::ComponentOutput* output)
    : output_(output), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!wakeFd_) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    // Orphans of our components become our children instead of init's.
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    watcher_ = std::thread([this] { Watch(); });
}

ChildProcessLauncher::~ChildProcessLauncher() {
    StopWatching();
    // Children still running are no longer watched: reap the ones that have ended.
    for (auto& [fd, process] : watched_) {
        if (process.ownChild) waitpid(process.pid, nullptr, WNOHANG);
    }
    watched_.clear();
    ReapStrays();
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
                                          const OutputLabel& output, ExitHandler onExit) {
    LaunchResult result;
    std::error_code ignored;
    std::filesystem::path program = std::filesystem::absolute(programPath, ignored);
    platform::SpawnRequest request;
    request.program = program.string();
    request.argv0 = program.filename().string();
    request.workingFolder = program.parent_path().string();
    if (request.workingFolder.empty()) request.workingFolder = ".";
    // Its own process group, so that a stop reaches its helpers too.
    request.grouping = platform::SpawnRequest::Grouping::kOwnGroup;
    request.extraEnvironment = environment;

    std::lock_guard lock(mutex_);
    if (stopping_) {
        result.error = "the server is stopping";
        return result;
    }
    // Under the lock no stray reaping runs, so the child is not reaped before
    // its handle is taken and it is watched; nor is a new log pipe taken for a stray.
    platform::OutputStream stream;
    if (output_ != nullptr) {
        stream = output_->Open(output.slot, output.name);
        if (stream.helper > 0) helpers_.insert(stream.helper);
        if (!stream.fd) result.outputProblem = stream.problem;
    }
    request.standardOutput = stream.fd.get();
    request.standardError = stream.fd.get();
    platform::SpawnResult started = platform::Spawn(request);
    if (started.pid <= 0) {
        result.error = started.errorText;
        return result;  // closing the stream ends its log pipe
    }
    const pid_t pid = started.pid;
    // Whose lines follow: the stream's name says the component, not its slot or process.
    if (stream.fd) {
        platform::WriteWithoutWaiting(stream.fd.get(), "slot " + std::to_string(output.slot) +
                                                           " pid " + std::to_string(pid) + ": " +
                                                           request.program + "\n");
    }
    auto entry = proc_.Stat(pid);
    if (!started.pidfd || !entry) {
        // Without a pidfd the child could not be watched: end it rather than lose it.
        result.error = std::string("pidfd_open: ") + std::strerror(errno);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return result;
    }
    const int fd = started.pidfd.get();
    watched_[fd] = Watched{pid, true, std::move(onExit), std::move(started.pidfd)};
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
    UniqueFd handle = OpenPidFd(process.pid);
    if (!handle) return errno == ESRCH ? AdoptVerdict::kGone : AdoptVerdict::kNotWatchable;
    auto entry = proc_.Stat(process.pid);
    if (!entry || !Alive(*entry)) return AdoptVerdict::kGone;
    if (entry->startTime != process.startTime) return AdoptVerdict::kOtherProcess;
    const auto owner = proc_.Owner(process.pid);
    if (!owner) return AdoptVerdict::kGone;
    if (*owner != geteuid()) return AdoptVerdict::kOtherOwner;
    // The same program file, however its path is spelled; a program replaced
    // on disk while it runs still counts.
    const auto program = platform::IdentifyProgram(programPath);
    if (!program) return AdoptVerdict::kOtherProgram;
    const auto runs = platform::ProgramsRunBy(proc_, process.pid, std::span(&*program, 1));
    if (!runs) return AdoptVerdict::kOtherOwner;  // not ours to look into
    if (runs->empty()) return AdoptVerdict::kOtherProgram;
    if (Readable(handle.get())) return AdoptVerdict::kGone;
    std::lock_guard lock(mutex_);
    if (stopping_) return AdoptVerdict::kNotWatchable;
    const int fd = handle.get();
    watched_[fd] =
        Watched{process.pid, entry->parent == getpid(), std::move(onExit), std::move(handle)};
    Component component;
    component.first = process;
    component.group = entry->group;
    components_[process.pid] = component;
    Wake();
    return AdoptVerdict::kAdopted;
}

std::set<ProcessIdentity> ChildProcessLauncher::LiveMembers(Component& component,
                                                            const std::map<pid_t, ProcStat>& all) {
    auto matches = [&](const ProcessIdentity& process) {
        auto it = all.find(process.pid);
        return it != all.end() && it->second.startTime == process.startTime && Alive(it->second);
    };
    std::set<ProcessIdentity> live;
    if (!component.firstEnded && matches(component.first)) live.insert(component.first);
    for (const auto& member : component.members) {
        if (matches(member)) live.insert(member);
    }
    // The group's number is ours while the first process holds it as its id
    // (a zombie too), and once no process does, while a process known to be
    // ours is still in the group: the kernel gives out no number a live group
    // uses. Without either the number may belong to a later group (pids wrap
    // quickly when something forks fast) whose members are strangers.
    auto holder = all.find(component.group);
    bool groupIsOurs = false;
    if (holder == all.end()) {
        groupIsOurs = AnyInGroup(live, all, component.group);
    } else {
        groupIsOurs = component.group == component.first.pid &&
                      holder->second.startTime == component.first.startTime;
    }
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
    const auto all = proc_.AllStats();
    auto live = LiveMembers(it->second, all);
    auto holder = proc_.Stat(it->second.group);
    bool groupIsOurs = holder ? live.count({holder->pid, holder->startTime}) != 0 ||
                                    (holder->pid == it->second.first.pid &&
                                     holder->startTime == it->second.first.startTime)
                              : AnyInGroup(live, all, it->second.group);
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
    auto live = LiveMembers(it->second, proc_.AllStats());
    live.erase(it->second.first);
    return !live.empty();
}

void ChildProcessLauncher::Refresh() {
    std::lock_guard lock(mutex_);
    if (components_.empty()) return;
    auto all = proc_.AllStats();
    for (auto& [pid, component] : components_) LiveMembers(component, all);
}

void ChildProcessLauncher::Forget(pid_t component) {
    std::lock_guard lock(mutex_);
    components_.erase(component);
}

void ChildProcessLauncher::Wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = write(wakeFd_.get(), &one, sizeof one);
}

void ChildProcessLauncher::ReapStrays() {
    // Under the lock no child is being started, so every child not watched is
    // a stray or a log pipe.
    std::lock_guard lock(mutex_);
    for (pid_t child : proc_.Children(getpid())) {
        bool watched = std::any_of(watched_.begin(), watched_.end(), [&](const auto& entry) {
            return entry.second.ownChild && entry.second.pid == child;
        });
        if (!watched && waitpid(child, nullptr, WNOHANG) == child) helpers_.erase(child);
    }
}

void ChildProcessLauncher::EndStrays() {
    // Killing a stray hands its own children to us: a few rounds end them too.
    for (int round = 0; round < 5; ++round) {
        std::vector<pid_t> strays;
        {
            std::lock_guard lock(mutex_);
            for (pid_t child : proc_.Children(getpid())) {
                bool watched = std::any_of(watched_.begin(), watched_.end(), [&](const auto& w) {
                    return w.second.ownChild && w.second.pid == child;
                });
                // A log pipe ends by itself once what writes to it has ended,
                // and keeps what they wrote last.
                if (!watched && helpers_.count(child) == 0) strays.push_back(child);
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
        fds.push_back({wakeFd_.get(), POLLIN, 0});
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
            [[maybe_unused]] auto got = read(wakeFd_.get(), &count, sizeof count);
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
                    // While its zombie still holds the group's number, every
                    // process in the group is known as the component's.
                    if (auto component = components_.find(it->second.pid);
                        component != components_.end()) {
                        LiveMembers(component->second, proc_.AllStats());
                    }
                    pid_t reaped = waitpid(it->second.pid, &status, WNOHANG);
                    if (reaped == 0) continue;  // readable but not yet reapable: poll again
                    if (reaped < 0) status = -1;
                }
                ended = std::move(it->second);
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
