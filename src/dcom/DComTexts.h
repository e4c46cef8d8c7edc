#pragma once

// Texts and the closing box shared by the two remote-call checks.

#include <string>
#include <string_view>
#include <vector>

#include "platform/Dialogs.h"

namespace orvel::dcom {

// The version name of the runtime linked into the programs begins with this.
inline constexpr std::string_view kRuntimeVersionPrefix = "gRPC ";

// After a correction: the reboot notice when every value was written, otherwise
// a critical box (with the given title) naming each value that was not.
void ShowCorrectionOutcome(platform::Dialogs& dialogs, const std::vector<std::string>& notWritten,
                           std::string_view failureTitle);

}  // namespace orvel::dcom
