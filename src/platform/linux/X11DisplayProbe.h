#pragma once

namespace orvel::platform {

// True when an X server answers on $DISPLAY and lets this user connect.
bool CanOpenX11Display();

}  // namespace orvel::platform
