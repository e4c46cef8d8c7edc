#pragma once

// Orvel_Server --status: asks the running server, over its local socket, for
// its slots, its clients and the active set, and says whether TCP is served.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/InstallRoot.h"
#include "platform/Registry.h"

namespace orvel::suiteserver {

// Exit statuses of --status, for scripts.
inline constexpr int kStatusAnswered = 0;
inline constexpr int kStatusIncomplete = 1;    // the server answered, some calls failed
inline constexpr int kStatusNotRunning = 3;    // no server answers on the socket
inline constexpr int kStatusNotPermitted = 4;  // the server refused this user

struct SlotStatus {
    int index = 0;
    std::string name;
    std::int32_t status = 0;  // -1 unused, 0 stopped, 1 running, 256 not registered, 513 missing
};

struct ServerStatus {
    std::string socketPath;
    std::string version;
    int clients = 0;
    std::string activeSet;
    std::vector<SlotStatus> slots;
    bool remoteEnabled = false;  // EnableDCOM and EnableRemoteConnect are "Y"
    int tcpPort = 0;
    bool tcpListening = false;  // something accepts on the port on this computer
};

// The words for a slot's status code.
std::string SlotStatusText(std::int32_t status);
// The report as --status prints it.
std::string FormatStatus(const ServerStatus& status);

// Runs --status: the report on out, a failure as "Orvel_Server: ..." on err;
// returns one of the exit statuses above.
int RunStatusCommand(const platform::InstallRoot& root, platform::Registry& registry,
                     std::ostream& out, std::ostream& err);

}  // namespace orvel::suiteserver
