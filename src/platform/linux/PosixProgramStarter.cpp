#include "platform/linux/PosixProgramStarter.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/linux/Spawn.h"

namespace orvel::platform {

namespace {

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
    SpawnRequest request;
    request.program = programPath;
    request.arguments = arguments;
    // A session of its own: a Ctrl-C or hang-up meant for the console does
    // not reach the tools it started.
    request.grouping = SpawnRequest::Grouping::kOwnSession;
    if (!programPath.empty()) {
        // The program's folder, taken against the current directory now.
        std::string absolute = programPath;
        if (absolute.front() != '/') {
            const std::string current = CurrentDirectory();
            if (current.empty()) {
                return {0, std::error_code(errno != 0 ? errno : ENOENT, std::generic_category())
                               .message()};
            }
            absolute = current + (current.back() == '/' ? "" : "/") + programPath;
        }
        const std::size_t slash = absolute.rfind('/');
        request.program = absolute;
        request.workingFolder = absolute.substr(0, slash == 0 ? 1 : slash);
    }
    SpawnResult started = Spawn(request);
    if (started.pid <= 0) return {0, started.errorText};
    // The handle was taken before the reaper may collect the child, so it is
    // the child's and no later process's with the same pid.
    {
        std::lock_guard lock(mutex_);
        std::erase_if(handles_, [](const auto& entry) { return Ended(entry.second.get()); });
        handles_.erase(started.pid);
        if (started.pidfd) handles_.emplace(started.pid, std::move(started.pidfd));
    }
    ReapWhenEnded(started.pid);
    return {started.pid, {}};
}

bool PosixProgramStarter::IsAlive(pid_t pid) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(pid);
    if (it == handles_.end()) return false;
    if (!Ended(it->second.get())) return true;
    handles_.erase(it);
    return false;
}

}  // namespace orvel::platform
