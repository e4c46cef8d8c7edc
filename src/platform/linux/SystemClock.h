#pragma once

#include "platform/Clock.h"

namespace orvel::platform {

// The computer's own clock: local calendar time and the steady clock.
class SystemClock final : public Clock {
  public:
    DateTime Now() override;
    std::chrono::steady_clock::time_point Monotonic() override;
};

}  // namespace orvel::platform
