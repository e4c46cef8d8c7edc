#include "platform/linux/SystemClock.h"

#include <ctime>

namespace orvel::platform {

DateTime SystemClock::Now() {
    std::time_t seconds = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return {};
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::chrono::steady_clock::time_point SystemClock::Monotonic() {
    return std::chrono::steady_clock::now();
}

}  // namespace orvel::platform
