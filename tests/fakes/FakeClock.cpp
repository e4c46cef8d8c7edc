#include "FakeClock.h"

namespace orvel::fakes {

void FakeClock::Advance(std::chrono::milliseconds step) {
    monotonic += step;
    carry_ += step;
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(carry_);
    carry_ -= seconds;
    long total = now.hour * 3600L + now.minute * 60L + now.second + seconds.count();
    now.second = static_cast<int>(total % 60);
    now.minute = static_cast<int>(total / 60 % 60);
    now.hour = static_cast<int>(total / 3600 % 24);
}

}  // namespace orvel::fakes
