#pragma once

// The remote-call settings a fresh machine starts with. A new installation is
// closed to remote consoles (remote connect "N", legacy levels 2) until an
// administrator corrects it with the console's DCOM check.

#include <string_view>

#include "platform/Registry.h"

namespace orvel::suite {

inline constexpr std::string_view kOleKey = "SOFTWARE\\Microsoft\\Ole";
inline constexpr std::string_view kRpcKey = "Software\\Microsoft\\Rpc";
inline constexpr std::string_view kProtocolsValue = "DCOM Protocols";

// The protocol list as stored: each entry NUL-terminated, then one more NUL.
// The literal's own terminator is the list's final NUL.
inline constexpr char kDefaultProtocolBytes[] =
    "ncacn_ip_tcp\0ncadg_ip_udp\0ncacn_spx\0ncacn_nb_nb\0ncacn_http\0";
inline constexpr std::string_view kDefaultProtocols{kDefaultProtocolBytes,
                                                    sizeof kDefaultProtocolBytes};

// Writes every default value that is missing (EnableDCOM "Y", EnableRemoteConnect
// "N", LegacyAuthenticationLevel and LegacyImpersonationLevel 2, the protocol
// list); values already present are left as they are. Returns ERROR_SUCCESS, or
// the first registry error (5 when the store may not be written).
platform::LONG WriteMissingMachineDefaults(platform::Registry& registry);

}  // namespace orvel::suite
