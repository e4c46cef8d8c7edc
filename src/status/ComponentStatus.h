#pragma once

// How a component server row shows a state code.

#include <cstdint>
#include <string>

#include "platform/RuntimeError.h"
#include "status/WinColours.h"
#include "suite/ComponentStatusCodes.h"

namespace orvel::status {

using suite::kStatusDComError;
using suite::kStatusNotAvailable;
using suite::kStatusNotRegistered;
using suite::kStatusOffLine;
using suite::kStatusRegistered;
using suite::kStatusRunning;
using suite::kStatusRunningRemote;
using suite::kStatusUnsupported;

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
