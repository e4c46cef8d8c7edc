#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace orvel::platform {

// A wider integer as a 16-bit one, saturated at the 16-bit limits: what the
// old 16-bit fields can hold, never a wrapped value.
constexpr std::int16_t ClampToInt16(long long value) {
    return static_cast<std::int16_t>(std::clamp<long long>(
        value, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

}  // namespace orvel::platform
