#include "platform/CalendarTime.h"

namespace orvel::platform {

std::tm CalendarOf(std::int64_t timeMs, bool localTime) {
    std::time_t seconds =
        static_cast<std::time_t>(timeMs >= 0 ? timeMs / 1000 : (timeMs - 999) / 1000);
    std::tm parts{};
    if (localTime) {
        localtime_r(&seconds, &parts);
    } else {
        gmtime_r(&seconds, &parts);
    }
    return parts;
}

}  // namespace orvel::platform
