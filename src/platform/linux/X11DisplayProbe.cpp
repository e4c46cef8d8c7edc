#include "platform/linux/X11DisplayProbe.h"

#include <xcb/xcb.h>

namespace orvel::platform {

bool X11DisplayConnection::Open() {
    Close();
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_) == 0) return true;
    Close();
    return false;
}

void X11DisplayConnection::Close() {
    if (connection_ == nullptr) return;
    xcb_disconnect(connection_);
    connection_ = nullptr;
}

}  // namespace orvel::platform
