#pragma once

namespace orvel::platform {

// The previous-instance flag: one console per user.
class InstanceLock {
  public:
    virtual ~InstanceLock() = default;
    // True when another instance already holds the lock; otherwise takes it
    // for the rest of this process's life and answers false.
    virtual bool PreviousInstance() = 0;
};

}  // namespace orvel::platform
