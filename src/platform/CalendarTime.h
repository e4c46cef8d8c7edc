#pragma once

#include <cstdint>
#include <ctime>

namespace orvel::platform {

// The calendar parts of a time given in milliseconds since the epoch, in the
// local time zone or in UTC; times before the epoch round down to the second.
std::tm CalendarOf(std::int64_t timeMs, bool localTime);

}  // namespace orvel::platform
