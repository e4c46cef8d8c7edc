#pragma once

// How a component server row shows a state code.

#include <cstdint>
#include <string>

#include "platform/RuntimeError.h"
#include "status/WinColours.h"

namespace orvel::status {

inline constexpr std::int32_t kStatusOffLine = 0;
inline constexpr std::int32_t kStatusRunning = 1;
inline constexpr std::int32_t kStatusRunningRemote = 2;  // derived by the console
inline constexpr std::int32_t kStatusUnsupported = -1;
inline constexpr std::int32_t kStatusDComError = 10;
inline constexpr std::int32_t kStatusNotRegistered = 256;
inline constexpr std::int32_t kStatusRegistered = 257;
inline constexpr std::int32_t kStatusNotAvailable = 513;

struct StatusPaint {
    std::string caption;
    WinColour back = kBlack;
    WinColour text = kBlack;
    std::string toolTip;
    bool rowVisible = true;
    bool rowEnabled = true;
    bool panelEnabled = true;
};

// A running component reached through the remote server shows as code 2 when
// the remote server is selected.
std::int32_t DisplayCode(std::int32_t code, bool localServerSelected, std::int16_t hostKind);

// The row's look for a code. lastError feeds the tool-tip of code 10.
StatusPaint PaintForStatus(std::int32_t code, const std::string& name,
                           const std::string& remoteServerName,
                           const platform::RuntimeError& lastError);

}  // namespace orvel::status
