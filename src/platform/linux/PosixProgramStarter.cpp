#include "platform/linux/PosixProgramStarter.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

extern char** environ;

namespace orvel::platform {

namespace {

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::string CurrentDirectory() {
    std::string folder(256, '\0');
    while (getcwd(folder.data(), folder.size()) == nullptr) {
        if (errno != ERANGE) return {};
        folder.resize(folder.size() * 2);
    }
    folder.resize(std::strlen(folder.c_str()));
    return folder;
}

// Owns the spawn attribute objects for the duration of one start.
struct SpawnSetup {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// A pidfd turns readable when its process has ended.
bool Ended(int handle) {
    pollfd entry{handle, POLLIN, 0};
    return poll(&entry, 1, 0) != 0;
}

void ReapWhenEnded(pid_t pid) {
    try {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until the console ends.
    }
}

}  // namespace

StartResult PosixProgramStarter::Start(const std::string& programPath, int /*windowStyle*/) {
    return StartWithArguments(programPath, {});
}

StartResult PosixProgramStarter::StartWithArguments(const std::string& programPath,
                                                    const std::vector<std::string>& arguments) {
    if (programPath.empty()) return {0, ErrorText(ENOENT)};
    // The child changes into the program's folder before exec, so the path
    // it executes must not depend on the directory it starts in.
    std::string program = programPath;
    if (program.front() != '/') {
        std::string current = CurrentDirectory();
        if (current.empty()) return {0, ErrorText(errno != 0 ? errno : ENOENT)};
        if (current.back() != '/') current.push_back('/');
        current.append(programPath);
        program.swap(current);
    }
    const std::size_t slash = program.rfind('/');
    const std::string folder(program, 0, slash == 0 ? 1 : slash);

    SpawnSetup setup;
    posix_spawn_file_actions_addchdir_np(&setup.actions, folder.c_str());
    // Descriptors the console opened without close-on-exec (lock files,
    // sockets) must not live on in its tools.
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&setup.attributes, &signals);
    for (int signal : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, signal);
    }
    posix_spawnattr_setsigdefault(&setup.attributes, &signals);
    posix_spawnattr_setflags(&setup.attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

    std::vector<std::string> texts = arguments;
    std::vector<char*> argv{program.data()};
    for (auto& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    // glibc reports a failed chdir or exec of the child here, not as a pid.
    int error =
        posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
    if (error != 0) return {0, ErrorText(error)};
    // The handle is taken before the reaper may collect the child, so it is
    // the child's and no later process's with the same pid.
    const int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    {
        std::lock_guard lock(mutex_);
        for (auto it = handles_.begin(); it != handles_.end();) {
            it = Ended(it->second) ? (close(it->second), handles_.erase(it)) : std::next(it);
        }
        if (auto old = handles_.find(pid); old != handles_.end()) {
            close(old->second);
            handles_.erase(old);
        }
        if (handle >= 0) handles_[pid] = handle;
    }
    ReapWhenEnded(pid);
    return {pid, {}};
}

PosixProgramStarter::~PosixProgramStarter() {
    for (auto& [pid, handle] : handles_) close(handle);
}

bool PosixProgramStarter::IsAlive(pid_t pid) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(pid);
    if (it == handles_.end()) return false;
    if (!Ended(it->second)) return true;
    close(it->second);
    handles_.erase(it);
    return false;
}

}  // namespace orvel::platform
