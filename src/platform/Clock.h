#pragma once

#include <chrono>

namespace orvel::platform {

// A local calendar time, as the old date-time value held it.
struct DateTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend auto operator<=>(const DateTime&, const DateTime&) = default;
};

class Clock {
  public:
    virtual ~Clock() = default;
    // The local date and time now.
    virtual DateTime Now() = 0;
    // A monotonic time for holds and deadlines.
    virtual std::chrono::steady_clock::time_point Monotonic() = 0;
};

}  // namespace orvel::platform
