#pragma once

#include <chrono>

#include "platform/Clock.h"

namespace orvel::fakes {

// A clock that stands still until the test moves it.
class FakeClock : public platform::Clock {
  public:
    platform::DateTime Now() override { return now; }
    std::chrono::steady_clock::time_point Monotonic() override { return monotonic; }

    // Moves both clocks forward (seconds only roll into minutes and hours).
    void Advance(std::chrono::milliseconds step);

    platform::DateTime now{2026, 12, 4, 15, 7, 9};
    std::chrono::steady_clock::time_point monotonic{std::chrono::hours(1)};

  private:
    std::chrono::milliseconds carry_{0};
};

}  // namespace orvel::fakes
