#include "status/StatusPoll.h"

#include <cstdio>

namespace orvel::status {

PollPhase AdvanceTickCounter(std::int16_t& TickCounter) {
    TickCounter = static_cast<std::int16_t>(TickCounter + 1);
    switch (TickCounter) {
        case 0:
        case 3:
        case 6:
            return PollPhase::DisconnectButton;
        case 1:
        case 2:
        case 4:
            return PollPhase::HostButtonRelease;
        case 5:
            return PollPhase::StopUnneeded;
        case 7:
        case 8:
        case 9:
            return PollPhase::ActiveSet;
        default:
            TickCounter = -1;
            return PollPhase::Idle;
    }
}

std::string FormatTime(const platform::DateTime& time) {
    char buffer[32] = {};
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", time.hour, time.minute, time.second);
    return buffer;
}

std::string FormatDate(const platform::DateTime& time) {
    char buffer[32] = {};
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", time.month, time.day, time.year);
    return buffer;
}

}  // namespace orvel::status
