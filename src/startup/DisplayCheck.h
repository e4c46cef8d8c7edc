#pragma once

#include <functional>
#include <optional>
#include <string>

namespace orvel::startup {

// Why no window could be shown, or nullopt when a display (or a Qt platform
// named in QT_QPA_PLATFORM) is there. Checked before Qt starts, so the
// operator reads a clear message instead of Qt's abort. The X server itself is
// asked through canOpenX11Display.
std::optional<std::string> MissingDisplayMessage(const std::function<bool()>& canOpenX11Display);

}  // namespace orvel::startup
