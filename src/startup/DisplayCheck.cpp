#include "startup/DisplayCheck.h"

#include <cstdlib>

namespace orvel::startup {

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

std::optional<std::string> MissingDisplayMessage(const std::function<bool()>& canOpenX11Display) {
    if (IsSet("QT_QPA_PLATFORM") || IsSet("WAYLAND_DISPLAY")) return std::nullopt;
    if (!IsSet("DISPLAY")) {
        return "Orvel Console needs a display: set DISPLAY (X11) or WAYLAND_DISPLAY to the "
               "desktop session's display, or QT_QPA_PLATFORM (for example offscreen).";
    }
    if (canOpenX11Display()) return std::nullopt;
    return std::string("Orvel Console cannot open the display \"") + std::getenv("DISPLAY") +
           "\": check that the X server runs and that this user may use it (xauth).";
}

}  // namespace orvel::startup
