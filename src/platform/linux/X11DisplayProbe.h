#pragma once

struct xcb_connection_t;

namespace orvel::platform {

// A connection to the X server on $DISPLAY, held from the display check until
// Qt has made its own. An X server without other clients (Xvfb, a kiosk
// display without a window manager) resets when its last client leaves, and a
// connection made during the reset fails: Qt then aborts without a box or a
// line. Closed when dropped.
class X11DisplayConnection {
  public:
    X11DisplayConnection() = default;
    ~X11DisplayConnection() { Close(); }
    X11DisplayConnection(const X11DisplayConnection&) = delete;
    X11DisplayConnection& operator=(const X11DisplayConnection&) = delete;

    // True when an X server answers on $DISPLAY and lets this user connect;
    // the connection stays open until Close.
    bool Open();
    void Close();

  private:
    xcb_connection_t* connection_ = nullptr;
};

}  // namespace orvel::platform
