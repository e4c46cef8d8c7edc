#include "platform/linux/Spawn.h"

#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

extern char** environ;

namespace orvel::platform {

namespace {

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

SpawnResult Failed(int error) {
    SpawnResult result;
    result.error = error;
    result.errorText = ErrorText(error);
    return result;
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

std::string_view NameOf(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

// This process's environment with the extra entries, each replacing an
// entry of its name.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view name = NameOf(*entry);
        bool replaced = false;
        for (const std::string& added : extra) replaced = replaced || NameOf(added) == name;
        if (!replaced) merged.emplace_back(*entry);
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

}  // namespace

SpawnResult Spawn(const SpawnRequest& request) {
    if (request.program.empty()) return Failed(ENOENT);
    for (const std::string& entry : request.extraEnvironment) {
        if (entry.find('=') == std::string::npos || entry.front() == '=') return Failed(EINVAL);
    }
    // The child may change folder before exec, so the path it executes must
    // not depend on the directory it starts in.
    std::string program = request.program;
    if (program.front() != '/') {
        std::string current = CurrentDirectory();
        if (current.empty()) return Failed(errno != 0 ? errno : ENOENT);
        if (current.back() != '/') current.push_back('/');
        program.insert(0, current);
    }

    SpawnSetup setup;
    // Redirections first: they may name descriptors above 2, closed next.
    const int wanted[3] = {request.standardInput, request.standardOutput, request.standardError};
    for (int target = 0; target < 3; ++target) {
        if (wanted[target] >= 0) {
            posix_spawn_file_actions_adddup2(&setup.actions, wanted[target], target);
        }
    }
    // Descriptors opened without close-on-exec (lock files, sockets, a
    // listener) must not live on in the child.
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
    if (!request.workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(&setup.actions, request.workingFolder.c_str());
    }

    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    // Every disposition back to default: exec keeps an ignored signal ignored.
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    switch (request.grouping) {
        case SpawnRequest::Grouping::kInherit:
            break;
        case SpawnRequest::Grouping::kOwnGroup:
            posix_spawnattr_setpgroup(&setup.attributes, 0);
            flags |= POSIX_SPAWN_SETPGROUP;
            break;
        case SpawnRequest::Grouping::kOwnSession:
            flags |= POSIX_SPAWN_SETSID;
            break;
    }
    posix_spawnattr_setflags(&setup.attributes, flags);

    std::string argv0 = request.argv0.empty() ? program : request.argv0;
    std::vector<std::string> texts = request.arguments;
    std::vector<char*> argv{argv0.data()};
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    std::vector<std::string> environment;
    std::vector<char*> envp;
    char** childEnvironment = environ;
    if (!request.extraEnvironment.empty()) {
        environment = MergedEnvironment(request.extraEnvironment);
        for (std::string& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        childEnvironment = envp.data();
    }

    SpawnResult result;
    // glibc reports a failed chdir or exec of the child here, not as a pid.
    const int error = posix_spawn(&result.pid, program.c_str(), &setup.actions, &setup.attributes,
                                  argv.data(), childEnvironment);
    if (error != 0) return Failed(error);
    result.pidfd.reset(static_cast<int>(syscall(SYS_pidfd_open, result.pid, 0)));
    return result;
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

}  // namespace orvel::platform
