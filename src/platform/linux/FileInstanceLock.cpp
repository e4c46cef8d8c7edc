#include "platform/linux/FileInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace orvel::platform {

FileInstanceLock::FileInstanceLock(std::string lockPath) : lockPath_(std::move(lockPath)) {}

FileInstanceLock::~FileInstanceLock() = default;

bool FileInstanceLock::PreviousInstance() {
    if (fd_) return false;  // this process holds the lock already
    // O_NOFOLLOW: in a shared /tmp, never follow a link planted by someone else.
    UniqueFd fd(open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd && errno == EACCES)
        fd.reset(open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return false;
    while (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK;
    }
    fd_ = std::move(fd);
    return false;
}

std::string FileInstanceLock::DefaultLockPath(const InstallRoot& root) {
    const std::string uid = std::to_string(getuid());
    if (root.relocated) {
        mkdir(root.socketFolder.c_str(), 0755);  // an existing folder is fine
        return root.socketFolder + "/orvel-console-" + uid + ".lock";
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/') return std::string(runtime) + "/orvel-console.lock";
    return "/tmp/orvel-console-" + uid + ".lock";
}

}  // namespace orvel::platform
