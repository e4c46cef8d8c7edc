#include "platform/linux/X11DisplayProbe.h"

#include <xcb/xcb.h>

namespace orvel::platform {

bool CanOpenX11Display() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    return !failed;
}

}  // namespace orvel::platform
