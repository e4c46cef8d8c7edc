#pragma once

// The periodic poll's phase cycle and its time and date texts.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace orvel::status {

enum class PollPhase {
    DisconnectButton,   // 0, 3, 6
    HostButtonRelease,  // 1, 2, 4
    StopUnneeded,       // 5
    ActiveSet,          // 7, 8, 9
    Idle,               // anything else: the counter restarts at -1
};

// Steps TickCounter and answers the phase the new value selects; eleven ticks
// make one cycle.
PollPhase AdvanceTickCounter(std::int16_t& TickCounter);

// "hh:mm:ss" (hours 00-23) and "MM/DD/YYYY".
std::string FormatTime(const platform::DateTime& time);
std::string FormatDate(const platform::DateTime& time);

}  // namespace orvel::status
