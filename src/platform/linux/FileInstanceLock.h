#pragma once

#include <string>

#include "platform/InstallRoot.h"
#include "platform/InstanceLock.h"
#include "platform/UniqueFd.h"

namespace orvel::platform {

// One console per user: an advisory lock (flock) on a per-user lock file,
// held from the first successful test until the process ends.
class FileInstanceLock final : public InstanceLock {
  public:
    explicit FileInstanceLock(std::string lockPath);
    ~FileInstanceLock() override;
    FileInstanceLock(const FileInstanceLock&) = delete;
    FileInstanceLock& operator=(const FileInstanceLock&) = delete;

    // A lock file that cannot be opened at all answers false: the console
    // then runs rather than refusing to start over a missing folder.
    bool PreviousInstance() override;

    // $ORVEL_ROOT/run/orvel-console-<uid>.lock for a relocated installation;
    // otherwise $XDG_RUNTIME_DIR/orvel-console.lock, or
    // /tmp/orvel-console-<uid>.lock without a runtime folder.
    static std::string DefaultLockPath(const InstallRoot& root);

  private:
    std::string lockPath_;
    UniqueFd fd_;
};

}  // namespace orvel::platform
