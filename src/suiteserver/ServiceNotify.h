#pragma once

// Tells the service manager how the server stands (a unit of Type=notify):
// ready once it listens, stopping when it begins its orderly stop. Outside a
// service manager (no NOTIFY_SOCKET) nothing is sent.

#include <string_view>

namespace orvel::suiteserver {

void NotifyReady(std::string_view status);
void NotifyStopping();

}  // namespace orvel::suiteserver
